#pragma once
// The link between an open editor and the page shown by the helper program
// `tessellgrove-editor` (a separate process, so GTK and WebKit never enter
// the host). One socket carries line-delimited text both ways:
//
//   to the helper:   "page <bytes>\n" and the page, then one script
//                    statement per line, evaluated in the page in order;
//   from the helper: "@loaded" once the page is loaded, then every JSON text
//                    the page posts through window.ipc.postMessage.
//
// The editor's side of the page protocol runs here, on the link's own I/O
// thread, or on the host's main loop when the GUI context offers one (never
// the audio thread): after "@loaded" it calls `_ipcReady` and
// `_setCurrentPresetName`; on every "poll_messages" and every 50 ms it sends
// the statements waiting in the state's script queue; "request_params" is
// answered with `_setAllParams`; "set_param", "begin_edit" and "end_edit"
// become host gestures through the GUI context; every other message goes to
// the page-message queue for the audio callback. A message that is not
// valid JSON or has an unknown "type" is dropped with one log line.

#include "plugin_kit/plugin/editor.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace plugin_kit {
class Params;
}

namespace webview {

class WebViewState;

// What the link needs to start the helper.
struct PageLinkConfig {
    std::string helper_path;  // the helper program
    uint64_t parent = 0;      // X11 window id to show the page in
    uint32_t width = 900;     // logical pixels
    uint32_t height = 600;
};

// The helper beside the shared object (or program) this code was loaded
// from, found through dladdr; nothing when it is not there or not executable.
std::optional<std::string> find_editor_helper();

// The `_setAllParams` statement for every parameter of `params`, in order:
// id, normalised value, default, min 0, max 1 and the display text.
std::string set_all_params_statement(plugin_kit::Params& params);

// The `_setCurrentPresetName` statement for `name`, escaped like a custom payload.
std::string set_current_preset_name_statement(std::string_view name);

// One running helper and the I/O thread that serves it. Destroying the link
// closes the helper's input, stops the thread and reaps the process.
class PageLink {
public:
    // Starts the helper and the thread; nullptr (nothing started) on failure.
    // Host main thread.
    static std::unique_ptr<PageLink> start(const PageLinkConfig& config, std::string page,
                                           std::shared_ptr<WebViewState> state,
                                           std::shared_ptr<plugin_kit::Params> params,
                                           std::shared_ptr<plugin_kit::GuiContext> context);
    ~PageLink();
    PageLink(const PageLink&) = delete;
    PageLink& operator=(const PageLink&) = delete;

    // The helper's process id.
    int pid() const noexcept;
    // True until the helper ended or the link broke.
    bool running() const noexcept;
    // True when the host's main loop serves the link, false for the link's own thread.
    bool on_host_main_loop() const noexcept;

private:
    struct Impl;
    explicit PageLink(std::unique_ptr<Impl> impl) noexcept;
    std::unique_ptr<Impl> impl_;
};

} // namespace webview
