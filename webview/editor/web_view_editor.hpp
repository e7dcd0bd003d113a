#pragma once
// The editor object handed to the plug-in framework: it carries the page
// text, puts the bridge script into it when the host opens the editor, and
// reports the state's fixed size. Opening the editor assembles the page,
// logs, marks the state open and returns a handle whose destruction marks it
// closed. With an X11 display and the helper program `tessellgrove-editor`
// beside the library, the page is shown in the host's window by that helper
// (see page_link.hpp); without them no window, web view or thread is made.
//
// Threads: the framework calls every method, and drops the handle, on the
// host's main thread.

#include "plugin_kit/plugin/editor.hpp"
#include "webview/editor/page_link.hpp"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace plugin_kit {
class Params;
}

namespace webview {

class WebViewState;

// Editor settings. Only `html` is read in this build; the others are for an
// editor that shows the page in a real web view.
struct WebViewEditorConfig {
    std::string html;                         // the page text
    std::optional<std::string> url;           // a page address to show instead of `html`
    std::optional<std::string> color = "#1a1a1a"; // background before the page paints
    bool devtools = false;                    // allow the web view's inspector
};

// The page as the editor shows it: `bridge_script` in a script element put
// before every "</head>" of `html`, else after every "<body>", else `html`
// wrapped in a minimal page shell.
std::string assemble_editor_page(std::string_view html, std::string_view bridge_script);

// The handle `spawn` returns; destroying it closes the editor.
class WebViewEditorDropGuard final : public plugin_kit::EditorHandle {
public:
    // Flag shared by the handle and whatever shows the page; true while open.
    struct Running {
        std::mutex lock;
        bool value = true; // guarded by lock
    };

    WebViewEditorDropGuard(std::shared_ptr<WebViewState> state, std::shared_ptr<Running> running,
                           std::unique_ptr<PageLink> link = nullptr) noexcept;
    // Ends the helper showing the page (if any), marks the state closed,
    // clears `running` and logs "WebView editor closed".
    ~WebViewEditorDropGuard() override;
    WebViewEditorDropGuard(const WebViewEditorDropGuard&) = delete;
    WebViewEditorDropGuard& operator=(const WebViewEditorDropGuard&) = delete;

private:
    std::shared_ptr<WebViewState> state_;
    std::shared_ptr<Running> running_;
    std::unique_ptr<PageLink> link_; // the helper showing the page; null without one
};

// The web-view editor of one plug-in instance.
class WebViewEditor final : public plugin_kit::Editor {
public:
    WebViewEditor(WebViewEditorConfig config, std::shared_ptr<WebViewState> state,
                  std::shared_ptr<plugin_kit::Params> params) noexcept;

    // Assembles the page, logs its size, marks the state open and shows the
    // page in `parent` through the helper when there is a display and a
    // helper; returns the handle either way.
    std::unique_ptr<plugin_kit::EditorHandle> spawn(const plugin_kit::ParentWindow& parent) override;
    // The state's size in logical pixels.
    plugin_kit::EditorSize size() const override;
    // Stores the factor in the state (which ignores unusable ones); always accepted.
    bool set_scale_factor(float factor) override;
    // One `_updateParam` statement for the page.
    void param_value_changed(std::string_view id, float normalized) override;
    // Nothing: the page shows unmodulated values.
    void param_modulation_changed(std::string_view id, float modulation_offset) override;
    // One `_updateParam` statement per parameter, in the set's order.
    void param_values_changed() override;

    const WebViewEditorConfig& config() const noexcept { return config_; }
    // The page exactly as `spawn` assembles it.
    std::string assembled_page() const;

private:
    WebViewEditorConfig config_;
    std::shared_ptr<WebViewState> state_;
    std::shared_ptr<plugin_kit::Params> params_;
};

// The editor for `state` and `params` showing `html` (taken over), with the
// other settings at their defaults.
std::unique_ptr<WebViewEditor> create_webview_editor(std::shared_ptr<WebViewState> state,
                                                     std::shared_ptr<plugin_kit::Params> params, std::string html);

} // namespace webview
