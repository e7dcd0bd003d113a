#pragma once
// Fixed-capacity multi-producer multi-consumer FIFO without locks.
//
// A ring of `capacity` cells, each with a sequence number that says whose
// turn the cell is: a producer may fill cell `pos % capacity` when its
// sequence equals `2 pos`, a consumer may empty it when it equals `2 pos + 1`
// (odd: full, even: free). Doubling keeps "free for the next lap" apart from
// "full" even with a single cell.
// Producers and consumers claim positions with a compare-and-swap on their
// own counter, so:
// - at most `capacity` items are ever held; a push that finds the next cell
//   still occupied fails at once and leaves the queued items untouched
//   (the newcomer is the one dropped);
// - items leave in the order their positions were claimed, one global order
//   across all producers;
// - neither side waits for the other. A producer that has claimed a cell but
//   not yet published it makes the consumer report "empty" until it does.
// The cells are allocated once by the constructor; push and pop only move
// items in and out.

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>

namespace webview {

template <typename T>
class BoundedQueue {
public:
    // Allocates `capacity` cells (at least one).
    explicit BoundedQueue(std::size_t capacity);
    BoundedQueue(const BoundedQueue&) = delete;
    BoundedQueue& operator=(const BoundedQueue&) = delete;

    // Queues `item` unless `capacity` items are waiting; then `item` is left untouched and false returned.
    bool try_push(T&& item) noexcept;
    // Takes the oldest item, or nothing when none is ready. Never waits.
    std::optional<T> try_pop() noexcept;

    // Number of cells.
    std::size_t capacity() const noexcept { return capacity_; }

private:
    struct Cell {
        std::atomic<std::size_t> sequence{0};
        std::optional<T> item;
    };

    // Keeps the two counters on their own cache lines.
    static constexpr std::size_t line = 64;

    std::size_t capacity_;
    std::unique_ptr<Cell[]> cells_;
    alignas(line) std::atomic<std::size_t> push_position_{0};
    alignas(line) std::atomic<std::size_t> pop_position_{0};
};

// ---------------------------------------------------------------------------

template <typename T>
BoundedQueue<T>::BoundedQueue(std::size_t capacity)
    : capacity_(capacity > 0 ? capacity : 1), cells_(std::make_unique<Cell[]>(capacity_)) {
    for (std::size_t i = 0; i < capacity_; ++i) {
        cells_[i].sequence.store(2 * i, std::memory_order_relaxed);
    }
}

template <typename T>
bool BoundedQueue<T>::try_push(T&& item) noexcept {
    static_assert(std::is_nothrow_move_constructible_v<T>);
    std::size_t position = push_position_.load(std::memory_order_relaxed);
    Cell* cell = nullptr;
    for (;;) {
        cell = &cells_[position % capacity_];
        const std::size_t sequence = cell->sequence.load(std::memory_order_acquire);
        // Signed distance between the cell's turn and ours. The counters
        // only grow (2^63 operations never happen), so it is small.
        const auto distance = static_cast<std::ptrdiff_t>(sequence - 2 * position);
        if (distance == 0) {
            if (push_position_.compare_exchange_weak(position, position + 1,
                                                     std::memory_order_relaxed)) {
                break;
            }
        } else if (distance < 0) {
            // The cell still holds the item from one lap ago: full.
            return false;
        } else {
            position = push_position_.load(std::memory_order_relaxed);
        }
    }
    cell->item.emplace(std::move(item));
    cell->sequence.store(2 * position + 1, std::memory_order_release);
    return true;
}

template <typename T>
std::optional<T> BoundedQueue<T>::try_pop() noexcept {
    std::size_t position = pop_position_.load(std::memory_order_relaxed);
    Cell* cell = nullptr;
    for (;;) {
        cell = &cells_[position % capacity_];
        const std::size_t sequence = cell->sequence.load(std::memory_order_acquire);
        const auto distance = static_cast<std::ptrdiff_t>(sequence - (2 * position + 1));
        if (distance == 0) {
            if (pop_position_.compare_exchange_weak(position, position + 1,
                                                    std::memory_order_relaxed)) {
                break;
            }
        } else if (distance < 0) {
            // Not yet published at this position: empty.
            return std::nullopt;
        } else {
            position = pop_position_.load(std::memory_order_relaxed);
        }
    }
    std::optional<T> out{std::move(cell->item)};
    cell->item.reset();
    // Hand the cell to the producer one lap ahead.
    cell->sequence.store(2 * (position + capacity_), std::memory_order_release);
    return out;
}

} // namespace webview
