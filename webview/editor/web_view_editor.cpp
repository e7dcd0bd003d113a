#include "webview/editor/web_view_editor.hpp"

#include "plugin/dispatch/webview_dispatch.hpp"
#include "plugin_kit/log/log.hpp"
#include "ui/editor_texts.hpp"
#include "webview/state/web_view_state.hpp"

#include <cstdlib>
#include <optional>
#include <utility>

namespace webview {
namespace {

constexpr std::string_view script_open = "<script>";
constexpr std::string_view script_close = "</script>";

// `text` with every occurrence of `from` replaced by `to`.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size() + to.size());
    std::size_t start = 0;
    for (std::size_t at = text.find(from); at != std::string_view::npos; at = text.find(from, start)) {
        out.append(text.substr(start, at - start));
        out.append(to);
        start = at + from.size();
    }
    out.append(text.substr(start));
    return out;
}

} // namespace

std::string assemble_editor_page(std::string_view html, std::string_view bridge_script) {
    std::string element;
    element.reserve(script_open.size() + bridge_script.size() + script_close.size());
    element.append(script_open).append(bridge_script).append(script_close);

    if (html.find("</head>") != std::string_view::npos) {
        return replace_all(html, "</head>", element + "</head>");
    }
    if (html.find("<body>") != std::string_view::npos) {
        return replace_all(html, "<body>", "<body>" + element);
    }
    std::string page;
    page.reserve(html.size() + element.size() + 200);
    page.append("<!DOCTYPE html>\n<html>\n<head>\n");
    page.append("    <meta charset=\"UTF-8\">\n");
    page.append("    <meta name=\"viewport\" content=\"width=device-width, initial-scale=1.0\">\n");
    page.append("    ").append(element).append("\n");
    page.append("</head>\n<body>\n");
    page.append(html);
    page.append("\n</body>\n</html>");
    return page;
}

WebViewEditorDropGuard::WebViewEditorDropGuard(std::shared_ptr<WebViewState> state,
                                               std::shared_ptr<Running> running,
                                               std::unique_ptr<PageLink> link) noexcept
    : state_(std::move(state)), running_(std::move(running)), link_(std::move(link)) {}

WebViewEditorDropGuard::~WebViewEditorDropGuard() {
    link_.reset();
    if (state_) {
        state_->set_open(false);
    }
    if (running_) {
        const std::lock_guard guard(running_->lock);
        running_->value = false;
    }
    plugin_kit::log_info("WebView editor closed");
}

WebViewEditor::WebViewEditor(WebViewEditorConfig config, std::shared_ptr<WebViewState> state,
                             std::shared_ptr<plugin_kit::Params> params) noexcept
    : config_(std::move(config)), state_(std::move(state)), params_(std::move(params)) {}

std::string WebViewEditor::assembled_page() const {
    return assemble_editor_page(config_.html, tessellgrove::ui::bridge_script());
}

std::unique_ptr<plugin_kit::EditorHandle> WebViewEditor::spawn(const plugin_kit::ParentWindow& parent) {
    state_->set_open(true);
    const auto [width, height] = state_->size();
    std::unique_ptr<PageLink> link;
    {
        std::string page = assembled_page();
        // The sender the page's messages are posted with.
        const JsMessageSender sender = state_->js_message_sender();
        plugin_kit::log_info("WebView editor spawn: {}x{}, HTML: {} bytes", width, height, page.size());

        // The page is shown by the helper program when there is an X11
        // display to show it on and the helper sits beside this library;
        // otherwise the editor stays window-less.
        const char* display = std::getenv("DISPLAY");
        const std::optional<std::string> helper = find_editor_helper();
        if (display != nullptr && *display != '\0' && helper && parent.handle != 0 &&
            parent.api == plugin_kit::ParentWindow::Api::X11) {
            PageLinkConfig link_config{*helper, parent.handle, width, height};
            link = PageLink::start(link_config, std::move(page), state_, params_, parent.context);
        }
        if (link) {
            plugin_kit::log_info("WebView editor shown by {} (pid {}) in X11 window {:#x} on display {}, linked {}",
                                 *helper, link->pid(), parent.handle, display,
                                 link->on_host_main_loop() ? "on the host's main loop" : "on its own thread");
        } else {
            plugin_kit::log_info("WebView editor not yet implemented for this platform");
        }
    }
    auto running = std::make_shared<WebViewEditorDropGuard::Running>();
    return std::make_unique<WebViewEditorDropGuard>(state_, std::move(running), std::move(link));
}

plugin_kit::EditorSize WebViewEditor::size() const {
    const auto [width, height] = state_->size();
    return {width, height};
}

bool WebViewEditor::set_scale_factor(float factor) {
    state_->set_scale_factor(factor);
    return true;
}

void WebViewEditor::param_value_changed(std::string_view id, float normalized) {
    tessellgrove::param_value_changed(*state_, id, normalized);
}

void WebViewEditor::param_modulation_changed(std::string_view id, float modulation_offset) {
    tessellgrove::param_modulation_changed(id, modulation_offset);
}

void WebViewEditor::param_values_changed() {
    if (params_) {
        tessellgrove::param_values_changed(*state_, *params_);
    }
}

std::unique_ptr<WebViewEditor> create_webview_editor(std::shared_ptr<WebViewState> state,
                                                     std::shared_ptr<plugin_kit::Params> params, std::string html) {
    WebViewEditorConfig config;
    config.html = std::move(html);
    return std::make_unique<WebViewEditor>(std::move(config), std::move(state), std::move(params));
}

} // namespace webview
