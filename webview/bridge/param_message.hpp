#pragma once
// Messages from the page to the plug-in, one kind per value of the page
// message's "type" field. A message owns its texts and is moved, not copied,
// through the page-message queue.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace webview {

// One message posted by the page.
struct ParamMessage {
    // "set_param": the page moved a control.
    struct SetParam {
        std::string name; // parameter id
        float value = 0.0f; // normalised value, 0..1
        bool operator==(const SetParam&) const = default;
    };
    // "begin_edit": start of a gesture on a parameter.
    struct BeginEdit {
        std::string name; // parameter id
        bool operator==(const BeginEdit&) const = default;
    };
    // "end_edit": end of a gesture on a parameter.
    struct EndEdit {
        std::string name; // parameter id
        bool operator==(const EndEdit&) const = default;
    };
    // "request_params": the page wants every parameter.
    struct RequestParams {
        bool operator==(const RequestParams&) const = default;
    };
    // "request_transport": the page wants tempo and playing state.
    struct RequestTransport {
        bool operator==(const RequestTransport&) const = default;
    };
    // "custom": an action of the page's own.
    struct Custom {
        std::string action;
        std::string payload;
        bool operator==(const Custom&) const = default;
    };
    // "request_presets": the page wants the preset list.
    struct RequestPresets {
        bool operator==(const RequestPresets&) const = default;
    };
    // "load_preset": load a factory or user preset by name.
    struct LoadPreset {
        std::string name;
        bool is_factory = false;
        bool operator==(const LoadPreset&) const = default;
    };
    // "save_preset": save the current values under a name.
    struct SavePreset {
        std::string name;
        bool operator==(const SavePreset&) const = default;
    };
    // "delete_preset": delete a user preset by name.
    struct DeletePreset {
        std::string name;
        bool operator==(const DeletePreset&) const = default;
    };
    // "poll_messages": the page's prompt to evaluate waiting statements.
    struct PollMessages {
        bool operator==(const PollMessages&) const = default;
    };

    using Kind = std::variant<SetParam, BeginEdit, EndEdit, RequestParams, RequestTransport, Custom,
                              RequestPresets, LoadPreset, SavePreset, DeletePreset, PollMessages>;

    Kind kind;

    bool operator==(const ParamMessage&) const = default;
};

// Decodes one JSON message posted by the page. Text that isn't a JSON object,
// an unknown "type", or a missing or mistyped field gives nothing. Optional
// fields default as the page's own functions do ("payload" "", "is_factory"
// false). Never throws.
std::optional<ParamMessage> parse_param_message(std::string_view json_text) noexcept;

// A message from the plug-in to the page through the state's plug-in message
// queue. The page protocol carries everything as script statements today, so
// nothing sends these; the queue is kept for an editor that wants one.
struct PluginToPageMessage {
    // An action of the plug-in's own with a text payload.
    struct Custom {
        std::string action;
        std::string payload;
        bool operator==(const Custom&) const = default;
    };
    // Every parameter may have changed.
    struct ParamsChanged {
        bool operator==(const ParamsChanged&) const = default;
    };
    // The preset list may have changed.
    struct PresetsChanged {
        bool operator==(const PresetsChanged&) const = default;
    };

    using Kind = std::variant<Custom, ParamsChanged, PresetsChanged>;

    Kind kind;

    bool operator==(const PluginToPageMessage&) const = default;
};

} // namespace webview
