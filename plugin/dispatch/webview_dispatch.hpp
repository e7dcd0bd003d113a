#pragma once
// The plug-in's end of the traffic with the editor page.
//
// `dispatch_webview_message` acts on one page message the audio callback
// took from the page-message queue: it answers transport requests and turns
// preset requests into commands for the preset worker, so no file is touched
// on the audio thread. The parameter notifications turn parameter changes
// reported by the framework into `_updateParam` statements for the page.

#include <atomic>
#include <string_view>

#include "plugin/presets/preset_command_queue.hpp"
#include "webview/bridge/param_message.hpp"

namespace plugin_kit {
class Params;
}

namespace webview {
class WebViewState;
}

namespace tessellgrove {

struct TessellgroveParams;

// Acts on one page message; the message is consumed in every case. Audio
// thread, once per block at most. Never waits: a transport request queues one
// statement (one allocation), a save request captures every parameter value,
// preset requests are sent on `preset_tx` (dropped silently once the worker
// has ended). Parameter, gesture, custom and poll messages are dropped here.
void dispatch_webview_message(webview::ParamMessage message, const TessellgroveParams& params,
                              webview::WebViewState& web_view_state, PresetCommandSender& preset_tx,
                              const std::atomic<float>& host_tempo,
                              const std::atomic<bool>& host_playing) noexcept;

// The host changed one parameter: one `_updateParam` statement with `id` and `normalized`.
void param_value_changed(webview::WebViewState& web_view_state, std::string_view id, float normalized) noexcept;

// Any number of values may have changed (a state load, say): one statement per
// parameter in `params`' order, with its normalised value without host modulation.
void param_values_changed(webview::WebViewState& web_view_state, plugin_kit::Params& params) noexcept;

// The host's modulation of a parameter changed. The page shows unmodulated
// values only, so this does nothing.
void param_modulation_changed(std::string_view id, float modulation_offset) noexcept;

} // namespace tessellgrove
