#include "plugin/dispatch/webview_dispatch.hpp"

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "plugin/params/tessellgrove_params.hpp"
#include "plugin/presets/tessellgrove_preset.hpp"
#include "plugin_kit/params/params.hpp"
#include "webview/state/web_view_state.hpp"

namespace tessellgrove {

void dispatch_webview_message(webview::ParamMessage message, const TessellgroveParams& params,
                              webview::WebViewState& web_view_state, PresetCommandSender& preset_tx,
                              const std::atomic<float>& host_tempo,
                              const std::atomic<bool>& host_playing) noexcept {
    using Message = webview::ParamMessage;
    try {
        std::visit(
            [&](auto&& kind) {
                using Kind = std::decay_t<decltype(kind)>;
                if constexpr (std::is_same_v<Kind, Message::RequestTransport>) {
                    // The tempo as stored by the audio callback, unclamped.
                    web_view_state.push_transport(host_playing.load(std::memory_order_relaxed),
                                                  host_tempo.load(std::memory_order_relaxed));
                } else if constexpr (std::is_same_v<Kind, Message::RequestPresets>) {
                    preset_tx.send(PresetCommand{PresetCommand::List{}});
                } else if constexpr (std::is_same_v<Kind, Message::LoadPreset>) {
                    preset_tx.send(PresetCommand{PresetCommand::Load{std::move(kind.name), kind.is_factory}});
                } else if constexpr (std::is_same_v<Kind, Message::SavePreset>) {
                    // Values current now, at dispatch, not when the page asked.
                    TessellgrovePreset preset = TessellgrovePreset::from_params(params, kind.name);
                    preset_tx.send(PresetCommand{PresetCommand::Save{std::move(kind.name), std::move(preset)}});
                } else if constexpr (std::is_same_v<Kind, Message::DeletePreset>) {
                    preset_tx.send(PresetCommand{PresetCommand::Delete{std::move(kind.name)}});
                } else {
                    // SetParam, BeginEdit, EndEdit, RequestParams, Custom and
                    // PollMessages are the editor's business, not the audio
                    // thread's: dropped without a word.
                    static_cast<void>(kind);
                }
            },
            std::move(message.kind));
    } catch (...) {
        // Only a failed allocation for a save request's name can land here;
        // the request is lost like one sent after the worker ended.
    }
}

void param_value_changed(webview::WebViewState& web_view_state, std::string_view id, float normalized) noexcept {
    web_view_state.push_param_update(id, normalized);
}

void param_values_changed(webview::WebViewState& web_view_state, plugin_kit::Params& params) noexcept {
    try {
        for (const plugin_kit::ParamMapEntry& entry : params.param_map()) {
            if (entry.param != nullptr) {
                web_view_state.push_param_update(entry.id, entry.param->unmodulated_normalized_value());
            }
        }
    } catch (...) {
        // The parameter list could not be built (out of memory): no statements.
    }
}

void param_modulation_changed(std::string_view id, float modulation_offset) noexcept {
    static_cast<void>(id);
    static_cast<void>(modulation_offset);
}

} // namespace tessellgrove
