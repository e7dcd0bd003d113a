#include "webview/bridge/preset_info.hpp"

namespace webview {

void to_json(nlohmann::ordered_json& json, const PresetInfo& info) {
    json = nlohmann::ordered_json{{"name", info.name}, {"is_factory", info.is_factory}};
}

void from_json(const nlohmann::ordered_json& json, PresetInfo& info) {
    json.at("name").get_to(info.name);
    json.at("is_factory").get_to(info.is_factory);
}

} // namespace webview
