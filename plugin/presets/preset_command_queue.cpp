#include "plugin/presets/preset_command_queue.hpp"

#include <concurrentqueue/blockingconcurrentqueue.h>

#include <atomic>
#include <cstddef>

namespace tessellgrove {

// Shared by every handle of one queue. An empty optional in the queue is
// the close mark, queued once by the last sender to go.
struct PresetCommandChannel {
    moodycamel::BlockingConcurrentQueue<std::optional<PresetCommand>> queue;
    std::atomic<std::size_t> senders{1};
    std::atomic<bool> receiver_alive{true};
};

PresetCommandSender::PresetCommandSender(std::shared_ptr<PresetCommandChannel> channel) noexcept
    : channel_(std::move(channel)) {}

PresetCommandSender::PresetCommandSender(const PresetCommandSender& other) noexcept : channel_(other.channel_) {
    if (channel_) {
        channel_->senders.fetch_add(1, std::memory_order_relaxed);
    }
}

PresetCommandSender::PresetCommandSender(PresetCommandSender&& other) noexcept
    : channel_(std::move(other.channel_)) {}

PresetCommandSender& PresetCommandSender::operator=(PresetCommandSender other) noexcept {
    reset();
    channel_ = std::move(other.channel_);
    return *this;
}

PresetCommandSender::~PresetCommandSender() { reset(); }

void PresetCommandSender::reset() noexcept {
    if (!channel_) {
        return;
    }
    // acq_rel: the last sender sees every other sender's commands queued
    // before it queues the close mark, so the mark follows all of them.
    if (channel_->senders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        try {
            while (!channel_->queue.enqueue(std::optional<PresetCommand>())) {
                // Only an allocation failure refuses; the mark must get in or
                // the receiver would wait forever.
            }
        } catch (...) {
        }
    }
    channel_.reset();
}

bool PresetCommandSender::send(PresetCommand command) noexcept {
    if (!channel_ || !channel_->receiver_alive.load(std::memory_order_acquire)) {
        return false;
    }
    try {
        return channel_->queue.enqueue(std::optional<PresetCommand>(std::move(command)));
    } catch (...) {
        return false;
    }
}

PresetCommandReceiver::PresetCommandReceiver(std::shared_ptr<PresetCommandChannel> channel) noexcept
    : channel_(std::move(channel)) {}

PresetCommandReceiver& PresetCommandReceiver::operator=(PresetCommandReceiver&& other) noexcept {
    if (this != &other) {
        release();
        channel_ = std::move(other.channel_);
        closed_ = other.closed_;
    }
    return *this;
}

PresetCommandReceiver::~PresetCommandReceiver() { release(); }

void PresetCommandReceiver::release() noexcept {
    if (channel_) {
        channel_->receiver_alive.store(false, std::memory_order_release);
        channel_.reset();
    }
}

std::optional<PresetCommand> PresetCommandReceiver::recv() {
    if (!channel_) {
        return std::nullopt;
    }
    std::optional<PresetCommand> item;
    if (closed_) {
        // Every sender is gone; what is left was queued before the mark was
        // taken and is counted by the queue's semaphore, so this finds it.
        if (channel_->queue.try_dequeue(item)) {
            return item;
        }
        return std::nullopt;
    }
    channel_->queue.wait_dequeue(item);
    if (item) {
        return item;
    }
    // The close mark. Commands of other sending threads may still follow it
    // (the queue orders per producer only): deliver them first.
    closed_ = true;
    return recv();
}

std::pair<PresetCommandSender, PresetCommandReceiver> make_preset_command_queue() {
    auto channel = std::make_shared<PresetCommandChannel>();
    return {PresetCommandSender(channel), PresetCommandReceiver(channel)};
}

} // namespace tessellgrove
