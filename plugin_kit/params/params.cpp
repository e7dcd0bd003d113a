#include "plugin_kit/params/params.hpp"

#include <algorithm>

namespace plugin_kit {

const ParamMapEntry* find_param_entry(const std::vector<ParamMapEntry>& map, std::string_view id) noexcept {
    const auto it = std::find_if(map.begin(), map.end(), [id](const ParamMapEntry& e) { return e.id == id; });
    return it == map.end() ? nullptr : &*it;
}

} // namespace plugin_kit
