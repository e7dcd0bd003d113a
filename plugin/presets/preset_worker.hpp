#pragma once
// The preset worker: one thread per plug-in instance that takes preset
// commands off the queue one at a time, does the disk and list work and
// answers the page through WebViewState::push_custom.
//
// Answers (action, payload): "presets_list" (list JSON), "preset_values"
// (normalised values JSON), "preset_loaded", "preset_saved",
// "preset_deleted" (the name as requested) and "preset_error" (a message).

#include "plugin/presets/preset_command_queue.hpp"
#include "plugin/presets/preset_library.hpp"
#include "plugin/presets/tessellgrove_preset.hpp"

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace webview {
class WebViewState;
}

namespace tessellgrove {

// Name of the worker thread (the system keeps its first 15 bytes).
inline constexpr std::string_view preset_worker_thread_name = "tessellgrove-presets";

// Body of the worker thread: serves commands in order until every sender is
// gone and the queue is drained, then releases both arguments. Never throws.
void preset_worker(PresetCommandReceiver receiver, std::shared_ptr<webview::WebViewState> state) noexcept;

// Handles one command completely, answering through `state`.
void handle_preset_command(PresetCommand command, webview::WebViewState& state) noexcept;

// Starts `preset_worker` on a new thread named after
// preset_worker_thread_name. Throws std::system_error when the system
// refuses the thread.
std::thread spawn_preset_worker(PresetCommandReceiver receiver, std::shared_ptr<webview::WebViewState> state);

// "presets_list" payload: [{"name":...,"is_factory":...},...] in list order.
std::string presets_list_payload(const std::vector<PresetEntry>& entries);

// "preset_values" payload: [["input_gain",0.5],...] in record order.
std::string preset_values_payload(const PresetParamValues& values);

} // namespace tessellgrove
