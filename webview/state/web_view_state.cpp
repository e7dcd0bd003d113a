#include "webview/state/web_view_state.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

#include "plugin_kit/log/log.hpp"

namespace webview {

namespace {

// Longest fixed-notation float: 39 integer digits (FLT_MAX) or "0." plus 45
// fraction digits (the smallest denormal), with a sign.
constexpr std::size_t number_buffer_size = 64;

struct NumberText {
    std::array<char, number_buffer_size> chars{};
    std::size_t length = 0;
    std::string_view view() const noexcept { return {chars.data(), length}; }
};

// Formats without touching the heap, so the transport statement needs only
// the one allocation of its own text.
NumberText number_text(float value) noexcept {
    NumberText out;
    std::string_view special;
    if (std::isnan(value)) {
        special = "NaN";
    } else if (std::isinf(value)) {
        special = value > 0.0f ? "Infinity" : "-Infinity";
    }
    if (!special.empty()) {
        special.copy(out.chars.data(), special.size());
        out.length = special.size();
        return out;
    }
    // Fixed notation without a precision gives the shortest round-trip digits
    // and never an exponent.
    const auto result = std::to_chars(out.chars.data(), out.chars.data() + out.chars.size(), value,
                                      std::chars_format::fixed);
    out.length = result.ec == std::errc{} ? static_cast<std::size_t>(result.ptr - out.chars.data()) : 0;
    return out;
}

// Characters that need a backslash inside a single-quoted script string.
constexpr bool needs_escape(char c) noexcept {
    return c == '\\' || c == '\'' || c == '\n' || c == '\r';
}

std::size_t escaped_size(std::string_view text) noexcept {
    std::size_t size = text.size();
    for (const char c : text) {
        size += needs_escape(c) ? 1 : 0;
    }
    return size;
}

void append_escaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\'': out += "\\'"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c; break;
        }
    }
}

// Joins the pieces of one statement with a single allocation.
template <std::size_t N>
std::string join(const std::array<std::string_view, N>& plain, const std::array<bool, N>& escape) {
    std::size_t size = 0;
    for (std::size_t i = 0; i < N; ++i) {
        size += escape[i] ? escaped_size(plain[i]) : plain[i].size();
    }
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < N; ++i) {
        if (escape[i]) {
            append_escaped(out, plain[i]);
        } else {
            out += plain[i];
        }
    }
    return out;
}

} // namespace

std::string format_script_number(float value) {
    return std::string(number_text(value).view());
}

std::string escape_script_string(std::string_view text) {
    std::string out;
    out.reserve(escaped_size(text));
    append_escaped(out, text);
    return out;
}

// --- JsMessageSender -------------------------------------------------------

JsMessageSender::JsMessageSender(std::shared_ptr<BoundedQueue<ParamMessage>> queue) noexcept
    : queue_(std::move(queue)) {}

bool JsMessageSender::send(ParamMessage message) noexcept {
    return queue_->try_push(std::move(message));
}

// --- WebViewState ----------------------------------------------------------

WebViewState::WebViewState(uint32_t width, uint32_t height)
    : js_messages_(std::make_shared<BoundedQueue<ParamMessage>>(js_message_capacity)),
      width_(width),
      height_(height) {}

std::shared_ptr<WebViewState> WebViewState::from_size(uint32_t width, uint32_t height) {
    return std::make_shared<WebViewState>(width, height);
}

std::pair<uint32_t, uint32_t> WebViewState::size() const noexcept {
    return {width_, height_};
}

void WebViewState::set_open(bool open) noexcept {
    open_.store(open, std::memory_order_release);
}

bool WebViewState::is_open() const noexcept {
    return open_.load(std::memory_order_acquire);
}

void WebViewState::set_scale_factor(float factor) noexcept {
    if (!std::isfinite(factor) || factor <= 0.0f) {
        return;
    }
    const std::unique_lock lock(scale_factor_lock_);
    scale_factor_ = factor;
}

float WebViewState::scale_factor() const noexcept {
    const std::shared_lock lock(scale_factor_lock_);
    return scale_factor_;
}

void WebViewState::set_current_preset_name(std::string name) noexcept {
    {
        const std::lock_guard lock(current_preset_name_lock_);
        current_preset_name_.swap(name);
    }
    // `name` now holds the old text, freed here outside the lock.
}

std::string WebViewState::current_preset_name() const {
    const std::lock_guard lock(current_preset_name_lock_);
    return current_preset_name_;
}

JsMessageSender WebViewState::js_message_sender() const noexcept {
    return JsMessageSender(js_messages_);
}

std::optional<ParamMessage> WebViewState::try_recv_js_message() noexcept {
    return js_messages_->try_pop();
}

void WebViewState::push_param_update(std::string_view id, float value) noexcept {
    try {
        const NumberText number = number_text(value);
        offer_script(join<5>({"if (window._updateParam) window._updateParam('", id, "', ", number.view(), ");"},
                             {false, true, false, false, false}));
    } catch (...) {
        // Out of memory: the statement is lost like one that finds the queue full.
    }
}

void WebViewState::push_transport(bool playing, float bpm) noexcept {
    try {
        const NumberText number = number_text(bpm);
        offer_script(join<5>({"if (window._updateTransport) window._updateTransport(", number.view(), ", ",
                              playing ? "true" : "false", ");"},
                             {false, false, false, false, false}));
    } catch (...) {
    }
}

void WebViewState::push_custom(std::string action, std::string payload) noexcept {
    try {
        std::string statement =
            join<5>({"if (window._handleCustomMessage) window._handleCustomMessage('", action, "', '", payload, "');"},
                    {false, true, false, true, false});
        plugin_kit::log_info("[push_custom] action={}, payload_len={}", action, payload.size());
        offer_script(std::move(statement));
    } catch (...) {
    }
}

std::optional<std::string> WebViewState::try_recv_script() noexcept {
    return scripts_.try_pop();
}

bool WebViewState::push_plugin_message(PluginToPageMessage message) noexcept {
    return plugin_messages_.try_push(std::move(message));
}

std::optional<PluginToPageMessage> WebViewState::try_recv_plugin_message() noexcept {
    return plugin_messages_.try_pop();
}

void WebViewState::offer_script(std::string statement) noexcept {
    // A full queue refuses the newcomer; the caller is not told.
    static_cast<void>(scripts_.try_push(std::move(statement)));
}

} // namespace webview
