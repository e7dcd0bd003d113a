// The audio callback must not touch the heap on its common path. This
// executable replaces the global allocation functions with counting ones;
// counting is switched on only around the calls under test.

#include "plugin/lib/tessellgrove.hpp"
#include "plugin/lib/tests/test_block.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>
#include <new>

// The replacements below pair every allocation with free(); GCC cannot see
// that the pair is the replaced operator new and delete and warns otherwise.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* counted_alloc(std::size_t size, std::size_t alignment = 0) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (size == 0) {
        size = 1;
    }
    void* p = alignment > alignof(std::max_align_t)
                  ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                  : std::malloc(size);
    return p;
}

} // namespace

void* operator new(std::size_t size) {
    if (void* p = counted_alloc(size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted_alloc(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted_alloc(size); }
void* operator new(std::size_t size, std::align_val_t al) {
    if (void* p = counted_alloc(size, static_cast<std::size_t>(al))) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t al) { return operator new(size, al); }
void* operator new(std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept {
    return counted_alloc(size, static_cast<std::size_t>(al));
}
void* operator new[](std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept {
    return counted_alloc(size, static_cast<std::size_t>(al));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace tessellgrove {
namespace {

using plugin_kit::Transport;
using testing::TestBlock;

struct Settings {
    const char* name;
    void (*apply)(TessellgroveParams&);
    Transport transport;
};

class ProcessAllocation : public ::testing::TestWithParam<Settings> {};

TEST_P(ProcessAllocation, NothingAfterTheFirstBlock) {
    Tessellgrove plugin;
    ASSERT_TRUE(plugin.initialize({}, plugin_kit::BufferConfig{48000.0f, 1, 1024}));
    plugin.reset();
    GetParam().apply(*plugin.tessellgrove_params());
    const Transport transport = GetParam().transport;

    // Warm-up: a changed swarm count rebuilds the banks here, legitimately.
    TestBlock warm_up(2, 256);
    plugin.process(warm_up.buffer, transport);

    std::vector<std::unique_ptr<TestBlock>> blocks;
    for (const uint32_t frames : {1024u, 0u, 1u, 333u, 1024u, 1024u}) {
        blocks.push_back(std::make_unique<TestBlock>(2, frames));
    }
    const auto pushes_before = plugin.transport_push_count();

    allocations = 0;
    counting = true;
    for (auto& block : blocks) {
        plugin.process(block->buffer, transport);
    }
    counting = false;

    EXPECT_EQ(allocations.load(), 0);
    EXPECT_EQ(plugin.transport_push_count(), pushes_before); // steady tempo
}

// The replacement must be the one in use, or every count above reads 0.
TEST(ProcessAllocationCounter, CountsAllocationsMadeWhileOn) {
    allocations = 0;
    counting = true;
    auto probe = std::make_unique<std::vector<float>>(100);
    counting = false;
    EXPECT_EQ(allocations.load(), 2); // the vector object and its storage
    EXPECT_EQ(probe->size(), 100u);
}

INSTANTIATE_TEST_SUITE_P(
    Tessellgrove, ProcessAllocation,
    ::testing::Values(
        Settings{"Defaults", [](TessellgroveParams&) {}, Transport{false, std::nullopt}},
        Settings{"SwarmFoldPlaying",
                 [](TessellgroveParams& p) {
                     p.carrier_mode.set_plain_value(2);
                     p.swarm_count.set_plain_value(16);
                     p.char_mode.set_plain_value(3);
                     p.comb_mix.set_plain_value(0.7f);
                     p.comb_feedback.set_plain_value(0.8f);
                     p.trig_amount.set_plain_value(1.0f);
                 },
                 Transport{true, 140.0}},
        Settings{"StochModulated",
                 [](TessellgroveParams& p) {
                     p.carrier_mode.set_plain_value(1);
                     p.lock_motion_enable.set_plain_value(true);
                     p.lock_motion_shape.set_plain_value(4);
                     p.mode_cycle_enable.set_plain_value(true);
                     p.mode_cycle_div.set_plain_value(3);
                     p.carrier_env_amount.set_plain_value(1.0f);
                     p.formant_morph_rate.set_plain_value(5.0f);
                 },
                 Transport{true, 90.0}}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

} // namespace
} // namespace tessellgrove
