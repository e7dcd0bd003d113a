#include "webview/state/bounded_queue.hpp"

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

using webview::BoundedQueue;

// (producer, sequence number within that producer)
using Item = std::pair<int, int>;

constexpr int producers = 4;

// Checks that the items of each producer come out in the order it pushed them.
void expect_per_producer_order(const std::vector<Item>& items) {
    std::array<int, producers> last{-1, -1, -1, -1};
    for (const auto& [producer, sequence] : items) {
        ASSERT_GT(sequence, last[static_cast<std::size_t>(producer)]) << "producer " << producer;
        last[static_cast<std::size_t>(producer)] = sequence;
    }
}

// Several producers racing into a queue nobody drains: exactly `capacity`
// pushes succeed, whatever the interleaving.
TEST(BoundedQueue, ConcurrentProducersFillExactlyToCapacity) {
    for (const std::size_t capacity : {std::size_t{1}, std::size_t{64}, std::size_t{256}}) {
        BoundedQueue<Item> queue(capacity);
        std::atomic<int> accepted{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int p = 0; p < producers; ++p) {
            threads.emplace_back([&, p] {
                while (!go.load()) {
                    std::this_thread::yield();
                }
                for (int i = 0; i < 150; ++i) {
                    accepted += queue.try_push(Item{p, i}) ? 1 : 0;
                }
            });
        }
        go = true;
        for (auto& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(accepted.load(), static_cast<int>(capacity));
        std::vector<Item> drained;
        while (auto item = queue.try_pop()) {
            drained.push_back(*item);
        }
        EXPECT_EQ(drained.size(), capacity);
        expect_per_producer_order(drained);
    }
}

// Producers and a consumer running together: every accepted item arrives
// once, none invented, each producer's items in order.
TEST(BoundedQueue, ConcurrentProducersAndConsumerLoseOnlyRefusedItems) {
    BoundedQueue<Item> queue(64);
    std::atomic<int> accepted{0};
    std::atomic<int> running{producers};
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < 2000; ++i) {
                accepted += queue.try_push(Item{p, i}) ? 1 : 0;
            }
            --running;
        });
    }
    std::vector<Item> received;
    for (;;) {
        const bool done = running.load() == 0;
        while (auto item = queue.try_pop()) {
            received.push_back(*item);
        }
        if (done) {
            break;
        }
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(static_cast<int>(received.size()), accepted.load());
    expect_per_producer_order(received);
}

// An item pushed by one thread before another thread pushes leaves first:
// one order across producers, not only within each.
TEST(BoundedQueue, OrderHoldsAcrossProducerThreads) {
    BoundedQueue<std::string> queue(8);
    for (int round = 0; round < 20; ++round) {
        std::thread([&] { EXPECT_TRUE(queue.try_push("first")); }).join();
        std::thread([&] { EXPECT_TRUE(queue.try_push("second")); }).join();
        EXPECT_TRUE(queue.try_push("third"));
        EXPECT_EQ(queue.try_pop(), "first");
        EXPECT_EQ(queue.try_pop(), "second");
        EXPECT_EQ(queue.try_pop(), "third");
        EXPECT_FALSE(queue.try_pop());
    }
}

TEST(BoundedQueue, RefusedItemIsLeftWithTheCaller) {
    BoundedQueue<std::string> queue(1);
    EXPECT_TRUE(queue.try_push("kept"));
    std::string newcomer = "dropped";
    EXPECT_FALSE(queue.try_push(std::move(newcomer)));
    EXPECT_EQ(newcomer, "dropped");
    EXPECT_EQ(queue.try_pop(), "kept");
    EXPECT_FALSE(queue.try_pop());
}

} // namespace
