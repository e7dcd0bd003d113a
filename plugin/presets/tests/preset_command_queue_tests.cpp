#include "plugin/presets/preset_command_queue.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace tessellgrove {
namespace {

PresetCommand del(std::string name) { return PresetCommand{PresetCommand::Delete{std::move(name)}}; }

std::string name_of(const PresetCommand& c) { return std::get<PresetCommand::Delete>(c.request).name; }

TEST(PresetCommandQueue, FifoThenClosedWhenTheSenderGoes) {
    auto [tx, rx] = make_preset_command_queue();
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(tx.send(del(std::to_string(i))));
    }
    tx.reset();
    EXPECT_FALSE(tx.send(del("after reset")));
    for (int i = 0; i < 100; ++i) {
        auto c = rx.recv();
        ASSERT_TRUE(c.has_value());
        EXPECT_EQ(name_of(*c), std::to_string(i));
    }
    EXPECT_FALSE(rx.recv().has_value());
    EXPECT_FALSE(rx.recv().has_value());
}

TEST(PresetCommandQueue, ClosesOnlyWhenEverySenderIsGone) {
    auto [tx, rx] = make_preset_command_queue();
    auto copy = std::make_unique<PresetCommandSender>(tx);
    // Replacing the instance's sender with a detached one drops the original.
    tx = PresetCommandSender();
    ASSERT_TRUE(copy->send(del("still open")));
    auto first = rx.recv();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(name_of(*first), "still open");

    auto pending = std::async(std::launch::async, [&rx] { return rx.recv(); });
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    copy.reset(); // last sender: wakes the waiting receiver
    EXPECT_FALSE(pending.get().has_value());
}

TEST(PresetCommandQueue, SendFailsOnceTheReceiverIsGone) {
    auto [tx, rx] = make_preset_command_queue();
    { auto gone = std::move(rx); }
    EXPECT_FALSE(tx.send(del("nobody")));
    PresetCommandSender detached;
    EXPECT_FALSE(detached.send(del("nowhere")));
}

// Several sending threads, each with its own copy; every command arrives,
// in order per sender, before the queue reports closed.
TEST(PresetCommandQueue, ManySendersDrainCompletely) {
    auto [tx, rx] = make_preset_command_queue();
    constexpr int senders = 4;
    constexpr int per_sender = 500;
    std::vector<std::thread> threads;
    for (int s = 0; s < senders; ++s) {
        threads.emplace_back([copy = tx, s]() mutable {
            for (int i = 0; i < per_sender; ++i) {
                copy.send(del(std::to_string(s) + ":" + std::to_string(i)));
            }
        });
    }
    tx.reset();
    std::vector<int> next(senders, 0);
    int received = 0;
    while (auto c = rx.recv()) {
        const std::string n = name_of(*c);
        const int s = std::stoi(n.substr(0, n.find(':')));
        const int i = std::stoi(n.substr(n.find(':') + 1));
        EXPECT_EQ(i, next[static_cast<std::size_t>(s)]++);
        ++received;
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(received, senders * per_sender);
}

} // namespace
} // namespace tessellgrove
