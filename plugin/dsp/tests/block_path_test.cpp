// The block path (`process_block`, stage by stage over runs of frames)
// against the frame path (`process`, one frame at a time): over every
// factory preset and under random automation of all 29 parameters with
// host blocks of any length, the outputs must match bit for bit, and at
// every block boundary the engines' whole running state must match too.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/dsp/tests/carrier_compare.hpp"
#include "plugin/dsp/tests/engine_harness.hpp"
#include "plugin/dsp/tests/test_signals.hpp"
#include "plugin/presets/factory_presets.hpp"

namespace tessellgrove {
namespace {

using test::Harness;

// The engine state outside the carriers that frames read or write.
void expect_same_engine(const TessellgroveProcessor& a, const TessellgroveProcessor& b, const std::string& where)
{
    ASSERT_EQ(a.character_mode, b.character_mode) << where;
    ASSERT_EQ(a.pending_character_mode, b.pending_character_mode) << where;
    ASSERT_EQ(a.grid_counter, b.grid_counter) << where;
    ASSERT_EQ(a.cycle_count, b.cycle_count) << where;
    ASSERT_EQ(a.cycle_was_positive, b.cycle_was_positive) << where;
    ASSERT_EQ(a.grit_tone.state, b.grit_tone.state) << where;
    ASSERT_EQ(a.warm_tone.state, b.warm_tone.state) << where;
    ASSERT_EQ(a.envelope.level, b.envelope.level) << where;
    for (const auto* lfo : {&a.trigger_lfo, &a.lock_lfo, &a.cycle_lfo}) {
        const dsp_kit::Lfo& other = lfo == &a.trigger_lfo ? b.trigger_lfo
                                    : lfo == &a.lock_lfo  ? b.lock_lfo
                                                          : b.cycle_lfo;
        ASSERT_EQ(lfo->phase, other.phase) << where;
        ASSERT_EQ(lfo->held_value, other.held_value) << where;
    }
    ASSERT_EQ(a.comb_left.delay_line.buffer, b.comb_left.delay_line.buffer) << where;
    ASSERT_EQ(a.comb_right.delay_line.buffer, b.comb_right.delay_line.buffer) << where;
    ASSERT_EQ(a.comb_left.damping.state, b.comb_left.damping.state) << where;
    ASSERT_EQ(a.comb_right.damping.state, b.comb_right.damping.state) << where;
}

// One engine run frame by frame, one block by block, fed alike.
struct Pair {
    Pair() : frames(44100.0f), blocks(44100.0f)
    {
        // Through the normalised form, as every copy goes: a default that
        // does not round-trip exactly (440 Hz stores 440.00003) starts out
        // the same in both.
        test::copy_params(frames.params, frames.params);
        for (Harness* h : {&frames, &blocks}) {
            h->processor.set_sample_rate(48000.0f);
            h->processor.reset();
        }
    }

    // One host block through both engines; a fatal failure on the first
    // mismatch.
    void block(const float* left, const float* right, std::size_t count, bool playing, const std::string& where)
    {
        test::copy_params(frames.params, blocks.params);
        blocks.tempo = frames.tempo;
        frames.begin_block(playing);
        blocks.begin_block(playing);
        expect_same_engine(frames.processor, blocks.processor, where);
        test::expect_same_carrier(frames.processor.carrier_left, blocks.processor.carrier_left, where + " left");
        test::expect_same_carrier(frames.processor.carrier_right, blocks.processor.carrier_right, where + " right");
        if (testing::Test::HasFatalFailure()) {
            return;
        }
        std::vector<float> out_left(left, left + count);
        std::vector<float> out_right(right, right + count);
        blocks.processor.process_block(out_left.data(), out_right.data(), count);
        for (std::size_t i = 0; i < count; ++i) {
            const auto [l, r] = frames.processor.process(left[i], right[i]);
            ASSERT_EQ(l, out_left[i]) << where << " frame " << i;
            ASSERT_EQ(r, out_right[i]) << where << " frame " << i;
        }
    }

    Harness frames;
    Harness blocks;
};

TEST(BlockPath, EveryFactoryPresetMatchesTheFramePathBitForBit)
{
    // Host blocks around the run length and odd sizes, so runs start and
    // end everywhere in relation to drift updates, grid steps and clocks.
    const std::size_t lengths[] = {512, 1, 31, 32, 33, 97, 256, 7};
    constexpr int blocks = 100;
    const std::vector<float> left = test::noise(512 * blocks, 0x2468ACEu);
    const std::vector<float> right = test::noise(512 * blocks, 0x13579BDu);
    ASSERT_EQ(FACTORY_PRESETS.size(), 28u);
    for (const TessellgrovePreset& preset : FACTORY_PRESETS) {
        Pair pair;
        test::apply_preset(pair.frames.params, preset);
        std::size_t at = 0;
        for (int b = 0; b < blocks; ++b) {
            const std::size_t count = lengths[static_cast<std::size_t>(b) % std::size(lengths)];
            pair.block(&left[at], &right[at], count, true, preset.name + " block " + std::to_string(b));
            if (testing::Test::HasFatalFailure()) {
                return;
            }
            at += count;
        }
    }
}

TEST(BlockPath, RandomAutomationMatchesTheFramePathBitForBit)
{
    // Mode cycle, grid-timed character changes, lock motion, the envelope
    // push and swarm recounts all change between and within runs here.
    std::mt19937 rng(0xB10Cu);
    std::uniform_int_distribution<std::size_t> block_length(0, 600);
    std::uniform_real_distribution<float> tempo(10.0f, 400.0f);
    std::bernoulli_distribution coin(0.5);
    const std::vector<float> left = test::noise(600, 0xBEEFu);
    const std::vector<float> right = test::noise(600, 0xF00Du);
    for (int trial = 0; trial < 16; ++trial) {
        Pair pair;
        test::automate(pair.frames.params, rng, 1.0);
        for (int b = 0; b < 80; ++b) {
            test::automate(pair.frames.params, rng, 0.2);
            if (b % 10 == 0) {
                pair.frames.tempo = tempo(rng);
            }
            pair.block(left.data(), right.data(), block_length(rng), coin(rng),
                       "trial " + std::to_string(trial) + " block " + std::to_string(b));
            if (testing::Test::HasFatalFailure()) {
                return;
            }
        }
    }
}

TEST(BlockPath, NonFiniteAndHugeInputsGiveTheFramePathsSafeOutput)
{
    Pair pair;
    pair.frames.params.char_mode.set_normalized_value(1.0f); // fold: no state, every value at once
    pair.frames.params.comb_mix.set_normalized_value(0.5f);
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> left = {0.5f, inf, -inf, std::nanf(""), 1e30f, -1e30f, 1e-40f, 0.0f, -0.25f, 3.0f};
    const std::vector<float> right = {-0.5f, 1e30f, std::nanf(""), inf, -inf, 2.0f, -1e-40f, 1e12f, 0.25f, -3.0f};
    for (int b = 0; b < 20; ++b) {
        pair.block(left.data(), right.data(), left.size(), b % 2 == 0, "block " + std::to_string(b));
        if (testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

} // namespace
} // namespace tessellgrove
