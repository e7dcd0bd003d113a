#include "webview/bridge/param_message.hpp"

#include <algorithm>

#include <nlohmann/json.hpp>

namespace webview {

namespace {

using Json = nlohmann::json;

// The text member `key`, or nothing when it is absent or not a string.
std::optional<std::string> text_member(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        return std::nullopt;
    }
    return it->get<std::string>();
}

std::optional<ParamMessage> decode(const Json& message) {
    if (!message.is_object()) {
        return std::nullopt;
    }
    const std::optional<std::string> type = text_member(message, "type");
    if (!type) {
        return std::nullopt;
    }

    if (*type == "set_param") {
        auto name = text_member(message, "name");
        const auto value = message.find("value");
        if (!name || value == message.end() || !value->is_number()) {
            return std::nullopt;
        }
        // Normalised values live in 0..1; anything else from the page is clamped.
        const auto normalized = static_cast<float>(std::clamp(value->get<double>(), 0.0, 1.0));
        return ParamMessage{ParamMessage::SetParam{std::move(*name), normalized}};
    }
    if (*type == "begin_edit" || *type == "end_edit") {
        auto name = text_member(message, "name");
        if (!name) {
            return std::nullopt;
        }
        if (*type == "begin_edit") {
            return ParamMessage{ParamMessage::BeginEdit{std::move(*name)}};
        }
        return ParamMessage{ParamMessage::EndEdit{std::move(*name)}};
    }
    if (*type == "request_params") {
        return ParamMessage{ParamMessage::RequestParams{}};
    }
    if (*type == "request_transport") {
        return ParamMessage{ParamMessage::RequestTransport{}};
    }
    if (*type == "custom") {
        auto action = text_member(message, "action");
        if (!action) {
            return std::nullopt;
        }
        std::string payload;
        if (const auto it = message.find("payload"); it != message.end()) {
            if (!it->is_string()) {
                return std::nullopt;
            }
            payload = it->get<std::string>();
        }
        return ParamMessage{ParamMessage::Custom{std::move(*action), std::move(payload)}};
    }
    if (*type == "request_presets") {
        return ParamMessage{ParamMessage::RequestPresets{}};
    }
    if (*type == "load_preset") {
        auto name = text_member(message, "name");
        if (!name) {
            return std::nullopt;
        }
        bool is_factory = false;
        if (const auto it = message.find("is_factory"); it != message.end()) {
            if (!it->is_boolean()) {
                return std::nullopt;
            }
            is_factory = it->get<bool>();
        }
        return ParamMessage{ParamMessage::LoadPreset{std::move(*name), is_factory}};
    }
    if (*type == "save_preset" || *type == "delete_preset") {
        auto name = text_member(message, "name");
        if (!name) {
            return std::nullopt;
        }
        if (*type == "save_preset") {
            return ParamMessage{ParamMessage::SavePreset{std::move(*name)}};
        }
        return ParamMessage{ParamMessage::DeletePreset{std::move(*name)}};
    }
    if (*type == "poll_messages") {
        return ParamMessage{ParamMessage::PollMessages{}};
    }
    return std::nullopt;
}

} // namespace

std::optional<ParamMessage> parse_param_message(std::string_view json_text) noexcept {
    try {
        const Json message = Json::parse(json_text, nullptr, /*allow_exceptions=*/false);
        if (message.is_discarded()) {
            return std::nullopt;
        }
        return decode(message);
    } catch (...) {
        // Out of memory while decoding: the message is lost like a malformed one.
        return std::nullopt;
    }
}

} // namespace webview
