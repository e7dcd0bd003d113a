#pragma once
// Requests to the preset worker and the unbounded queue that carries them
// from the audio thread to the worker.
//
// The queue has sending handles (copyable; the instance holds one) and one
// receiving handle (move-only; the worker holds it). Sending never waits.
// Receiving waits for a command; once the last sending handle is gone the
// commands still queued are delivered and then receiving reports closed.

#include "plugin/presets/tessellgrove_preset.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tessellgrove {

// One request to the preset worker; owns its data.
struct PresetCommand {
    // Send the combined preset list.
    struct List {};
    // Load a factory preset (`is_factory`) or a user preset by file stem.
    struct Load {
        std::string name;
        bool is_factory = false;
    };
    // Write `preset` as a user preset; `name` is the name the page sent.
    struct Save {
        std::string name;
        TessellgrovePreset preset;
    };
    // Remove the user preset file with this stem.
    struct Delete {
        std::string name;
    };

    std::variant<List, Load, Save, Delete> request;
};

struct PresetCommandChannel;
class PresetCommandReceiver;

// Sending end. Copies are further senders; the receiver sees the queue
// closed once every sender is destroyed (or reset).
class PresetCommandSender {
public:
    // A sender attached to nothing: every send fails.
    PresetCommandSender() noexcept = default;
    PresetCommandSender(const PresetCommandSender& other) noexcept;
    PresetCommandSender(PresetCommandSender&& other) noexcept;
    PresetCommandSender& operator=(PresetCommandSender other) noexcept;
    ~PresetCommandSender();

    // Queues `command` without waiting (it may allocate). False, with the
    // command dropped, when the receiver is gone or this sender is detached.
    bool send(PresetCommand command) noexcept;
    // Detaches this sender now, as destruction would.
    void reset() noexcept;

private:
    friend std::pair<PresetCommandSender, PresetCommandReceiver> make_preset_command_queue();
    explicit PresetCommandSender(std::shared_ptr<PresetCommandChannel> channel) noexcept;
    std::shared_ptr<PresetCommandChannel> channel_;
};

// Receiving end, owned by the worker.
class PresetCommandReceiver {
public:
    PresetCommandReceiver() noexcept = default;
    PresetCommandReceiver(PresetCommandReceiver&& other) noexcept = default;
    PresetCommandReceiver& operator=(PresetCommandReceiver&& other) noexcept;
    PresetCommandReceiver(const PresetCommandReceiver&) = delete;
    PresetCommandReceiver& operator=(const PresetCommandReceiver&) = delete;
    ~PresetCommandReceiver();

    // Waits for the next command; nothing once every sender is gone and the
    // queue is drained (or when this receiver is detached).
    std::optional<PresetCommand> recv();

private:
    friend std::pair<PresetCommandSender, PresetCommandReceiver> make_preset_command_queue();
    explicit PresetCommandReceiver(std::shared_ptr<PresetCommandChannel> channel) noexcept;
    void release() noexcept;
    std::shared_ptr<PresetCommandChannel> channel_;
    bool closed_ = false; // the last sender's close mark has been taken
};

// A new queue with one sender and its receiver.
std::pair<PresetCommandSender, PresetCommandReceiver> make_preset_command_queue();

} // namespace tessellgrove
