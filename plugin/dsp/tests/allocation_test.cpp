// Counts every global heap allocation so the audio path can be checked for
// allocation-free operation. The replacement allocation functions apply to
// this whole executable, which is why it is separate from the other tests.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <random>

#include <gtest/gtest.h>

#include "plugin/dsp/tests/engine_harness.hpp"

namespace {

std::atomic<std::size_t> allocations{0};

void* counted_alloc(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void* counted_aligned_alloc(std::size_t size, std::align_val_t align)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    const auto a = static_cast<std::size_t>(align);
    const std::size_t rounded = (size + a - 1) / a * a;
    if (void* p = std::aligned_alloc(a, rounded == 0 ? a : rounded)) {
        return p;
    }
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) { return counted_alloc(size); }
void* operator new[](std::size_t size) { return counted_alloc(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new(std::size_t size, std::align_val_t align) { return counted_aligned_alloc(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return counted_aligned_alloc(size, align); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace tessellgrove {
namespace {

using test::Harness;

// Settings under which every optional path of the engine runs.
void everything_on(TessellgroveParams& params)
{
    params.lock_motion_enable.set_plain_value(true);
    params.lock_motion_depth.set_plain_value(0.8f);
    params.lock_motion_shape.set_plain_value(4);
    params.carrier_env_amount.set_plain_value(0.7f);
    params.mode_cycle_enable.set_plain_value(true);
    params.mode_cycle_div.set_plain_value(3);
    params.formant_morph_rate.set_plain_value(4.0f);
    params.swarm_count.set_plain_value(16);
    params.swarm_drift.set_plain_value(1.0f);
    params.stoch_smoothing.set_plain_value(0.6f);
    params.char_mode.set_plain_value(3);
    params.comb_feedback.set_plain_value(0.8f);
    params.comb_mix.set_plain_value(0.5f);
    params.trig_amount.set_plain_value(0.7f);
}

// Runs `blocks` blocks the way the instance does, counting allocations in
// the parameter update and the frames only; `between` runs before each
// block outside the counted region.
template <typename Between>
std::size_t allocations_while_running(Harness& h, int blocks, bool playing, Between between)
{
    std::size_t counted = 0;
    for (int block = 0; block < blocks; ++block) {
        between(block);
        const std::size_t before = allocations.load();
        h.processor.set_playing(playing);
        update_processor_params(h.params, h.tempo, h.processor);
        // Half the block frame by frame, half through the block path.
        std::array<float, 256> left{};
        std::array<float, 256> right{};
        for (int i = 0; i < 512; ++i) {
            const float x = 0.25f * static_cast<float>((i * 37) % 17 - 8);
            if (i < 256) {
                h.processor.process(x, -x);
            } else {
                left[static_cast<std::size_t>(i - 256)] = x;
                right[static_cast<std::size_t>(i - 256)] = -x;
            }
        }
        h.processor.process_block(left.data(), right.data(), left.size());
        counted += allocations.load() - before;
    }
    return counted;
}

TEST(EngineAllocation, FixedSettingsNeverAllocate)
{
    struct Case {
        const char* name;
        int carrier_mode;
        int char_mode;
        bool all_on;
    };
    const Case cases[] = {
        {"defaults", 0, 0, false}, {"stoch grit", 1, 1, false},
        {"swarm warm", 2, 2, false}, {"everything on", 0, 3, true},
    };
    for (const Case& c : cases) {
        Harness h;
        h.params.carrier_mode.set_plain_value(c.carrier_mode);
        h.params.char_mode.set_plain_value(c.char_mode);
        if (c.all_on) {
            everything_on(h.params);
        }
        // Warm-up block: the first update may rebuild the banks.
        allocations_while_running(h, 1, false, [](int) {});
        EXPECT_EQ(allocations_while_running(h, 40, true, [](int) {}), 0u) << c.name;
    }
}

TEST(EngineAllocation, SwarmSizeChangesRebuildInPlace)
{
    Harness h;
    everything_on(h.params);
    h.params.carrier_mode.set_plain_value(2);
    const std::size_t counted = allocations_while_running(h, 30, false, [&h](int block) {
        h.params.swarm_count.set_plain_value(2 + block % 15);
    });
    EXPECT_EQ(counted, 0u);
}

TEST(EngineAllocation, RandomAutomationOfEveryParameterNeverAllocates)
{
    // All 29 parameters move at random between blocks, the swarm size among
    // them, with the transport and the tempo changing too; banks hold
    // storage for 16 voices from construction, so nothing reaches the heap.
    std::mt19937 rng(29u);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_real_distribution<float> tempo(10.0f, 400.0f);
    std::bernoulli_distribution coin(0.5);
    for (int trial = 0; trial < 6; ++trial) {
        Harness h(48000.0f);
        bool playing = false;
        std::size_t swarm_changes = 0;
        const std::size_t counted = allocations_while_running(h, 60, true, [&](int) {
            const std::size_t before = h.processor.carrier_left.bank.size();
            for (const plugin_kit::ParamMapEntry& entry : h.params.param_map()) {
                entry.param->set_normalized_value(unit(rng));
            }
            h.tempo = tempo(rng);
            playing = coin(rng);
            h.processor.set_playing(playing);
            swarm_changes += h.params.swarm_count.value() != static_cast<int32_t>(before) ? 1u : 0u;
        });
        EXPECT_EQ(counted, 0u) << "trial " << trial;
        EXPECT_GT(swarm_changes, 30u) << "the swarm size should really have changed";
    }
}

TEST(EngineAllocation, CounterSeesHeapUse)
{
    // Guards the test itself: the replacement functions must be the ones in use.
    const std::size_t before = allocations.load();
    auto* p = new TessellgroveProcessor(48000.0f);
    delete p;
    EXPECT_GT(allocations.load(), before);
}

} // namespace
} // namespace tessellgrove
