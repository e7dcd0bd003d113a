#pragma once
// The shared state between the plug-in and its web page editor.
//
// Nothing calls into the page directly. Code that wants to tell the page
// something formats one complete script statement and offers it to the
// script queue, from which an editor with a web view evaluates statements in
// order. Messages posted by the page are decoded into `ParamMessage`s and
// queued for the audio callback, which takes at most one per block.
//
// Threads:
// - audio thread: `try_recv_js_message` (sole consumer) and `push_transport`;
//   it takes no lock of this state.
// - preset worker: `push_custom`, `set_current_preset_name`.
// - the framework's parameter-notification thread: `push_param_update`.
// - the editor: `js_message_sender`, `try_recv_script`, `set_open`,
//   `set_scale_factor`, the getters.
// Every queue operation returns at once; a full queue drops the newcomer.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <utility>

#include "webview/bridge/param_message.hpp"
#include "webview/state/bounded_queue.hpp"

namespace webview {

// A sending handle on the page-message queue. Copies share the queue; the
// queue lives as long as the state or any handle does.
class JsMessageSender {
public:
    // Queues `message` unless 256 messages are waiting; false when it was dropped. Any thread.
    bool send(ParamMessage message) noexcept;

private:
    friend class WebViewState;
    explicit JsMessageSender(std::shared_ptr<BoundedQueue<ParamMessage>> queue) noexcept;
    std::shared_ptr<BoundedQueue<ParamMessage>> queue_;
};

// Bridge state, one per plug-in instance, shared by the instance, the preset
// worker and the editor.
class WebViewState {
public:
    static constexpr std::size_t plugin_message_capacity = 64; // plug-in messages (unused by the page protocol)
    static constexpr std::size_t js_message_capacity = 256;    // page messages waiting for the audio callback
    static constexpr std::size_t script_capacity = 64;         // statements waiting for the page

    // Editor size in logical pixels; empty queues, scale 1, preset "Init", closed.
    WebViewState(uint32_t width, uint32_t height);
    // As the constructor, shared.
    static std::shared_ptr<WebViewState> from_size(uint32_t width, uint32_t height);

    WebViewState(const WebViewState&) = delete;
    WebViewState& operator=(const WebViewState&) = delete;

    // (width, height) given at construction.
    std::pair<uint32_t, uint32_t> size() const noexcept;

    // Whether the editor is open.
    void set_open(bool open) noexcept;
    bool is_open() const noexcept;

    // Host scale factor; a non-finite or non-positive factor is ignored.
    void set_scale_factor(float factor) noexcept;
    float scale_factor() const noexcept;

    // Name of the preset last loaded. Never called on the audio thread.
    void set_current_preset_name(std::string name) noexcept;
    std::string current_preset_name() const;

    // A new sending handle on the page-message queue.
    JsMessageSender js_message_sender() const noexcept;
    // The oldest page message, or nothing. Never waits or allocates. Audio thread.
    std::optional<ParamMessage> try_recv_js_message() noexcept;

    // Queues "if (window._updateParam) window._updateParam('<id>', <value>);".
    void push_param_update(std::string_view id, float value) noexcept;
    // Queues "if (window._updateTransport) window._updateTransport(<bpm>, <playing>);".
    // Allocates one text; never blocks. Audio thread allowed.
    void push_transport(bool playing, float bpm) noexcept;
    // Queues "if (window._handleCustomMessage) window._handleCustomMessage('<action>', '<payload>');"
    // and logs the action and the payload's length. Not for the audio thread.
    void push_custom(std::string action, std::string payload) noexcept;

    // The oldest waiting statement, or nothing. For the editor that evaluates them in order.
    std::optional<std::string> try_recv_script() noexcept;

    // Plug-in message queue, kept for an editor that wants one; nothing uses it today.
    bool push_plugin_message(PluginToPageMessage message) noexcept;
    std::optional<PluginToPageMessage> try_recv_plugin_message() noexcept;

private:
    // Offers one statement; dropped silently when 64 are waiting.
    void offer_script(std::string statement) noexcept;

    BoundedQueue<PluginToPageMessage> plugin_messages_{plugin_message_capacity};
    std::shared_ptr<BoundedQueue<ParamMessage>> js_messages_;
    BoundedQueue<std::string> scripts_{script_capacity};

    mutable std::shared_mutex scale_factor_lock_;
    float scale_factor_ = 1.0f; // guarded by scale_factor_lock_

    mutable std::mutex current_preset_name_lock_;
    std::string current_preset_name_ = "Init"; // guarded by current_preset_name_lock_

    uint32_t width_;
    uint32_t height_;
    std::atomic<bool> open_{false};
};

// Writes `value` as a script number: the shortest decimal that reads back to
// the same 32-bit float, never with an exponent, whole numbers without a
// point ("120", "0.5", "0.0000001"). Non-finite values become the script's
// NaN, Infinity and -Infinity. Independent of the locale.
std::string format_script_number(float value);

// Escapes `text` for a single-quoted script string: backslash, single quote,
// line feed and carriage return get a backslash ("\\", "\'", "\n", "\r");
// everything else, U+2028 and U+2029 included, passes unchanged.
std::string escape_script_string(std::string_view text);

} // namespace webview
