#pragma once
// A plug-in's parameter set as the framework sees it: an ordered list of
// (text id, parameter, group) and a hook for extra persisted fields.

#include "plugin_kit/params/param.hpp"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace plugin_kit {

// One parameter of a set. `id` is the stable text id (hosts get its
// param_id_hash); `group` is the group path, empty for top level. The
// pointers stay valid for the life of the Params object that made them.
struct ParamMapEntry {
    std::string_view id;
    Param* param = nullptr;
    std::string_view group;
};

// Base of every plug-in's parameter set. Built once per instance, shared by
// reference counting; not copyable (its parameters hold atomics).
class Params {
public:
    Params() = default;
    Params(const Params&) = delete;
    Params& operator=(const Params&) = delete;
    virtual ~Params() = default;

    // Every parameter in host order. Called when the framework builds its tables.
    virtual std::vector<ParamMapEntry> param_map() = 0;
    // Extra persisted data besides parameter values; none by default.
    virtual std::map<std::string, std::string> serialize_fields() const { return {}; }
    // Restores what serialize_fields wrote; ignores everything by default.
    virtual void deserialize_fields(const std::map<std::string, std::string>& fields) { (void)fields; }
};

// The entry with text id `id`, or nullptr.
const ParamMapEntry* find_param_entry(const std::vector<ParamMapEntry>& map, std::string_view id) noexcept;

} // namespace plugin_kit
