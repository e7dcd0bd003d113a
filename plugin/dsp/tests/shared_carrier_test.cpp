// The shared-carrier frame (`process`: the left carrier's value drives both
// channels) against the frame that advances both carriers on their own
// (`process_two_carriers`), over every factory preset and under random
// automation of all 29 parameters: the outputs must match bit for bit, and
// once the right carrier has caught up at a block boundary its whole state
// must equal the one the two-carrier engine built step by step.

#include <cstddef>
#include <cstdint>
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

using test::expect_same_carrier;
using test::Harness;

// The settings of a carrier and what its setters derive from them (filter
// coefficients, voice tuning, clock increments), without running state.
void expect_same_settings(const Carrier& a, const Carrier& b, const std::string& where)
{
    ASSERT_EQ(a.mode, b.mode) << where;
    ASSERT_EQ(a.frequency, b.frequency) << where;
    ASSERT_EQ(a.formant_oscillator.phase_increment, b.formant_oscillator.phase_increment) << where;
    ASSERT_EQ(a.formant_position, b.formant_position) << where;
    ASSERT_EQ(a.stoch_spread, b.stoch_spread) << where;
    ASSERT_EQ(a.stoch_density, b.stoch_density) << where;
    ASSERT_EQ(a.sample_hold.phase_increment, b.sample_hold.phase_increment) << where;
    ASSERT_EQ(a.swarm_spread, b.swarm_spread) << where;
    ASSERT_EQ(a.swarm_drift, b.swarm_drift) << where;
    if (a.formant_morph_rate <= 0.001f) { // otherwise the sweep moves the filter as running state
        ASSERT_EQ(a.formant_filter.position, b.formant_filter.position) << where;
        for (std::size_t j = 0; j < 3; ++j) {
            ASSERT_EQ(a.formant_filter.sections[j].b0, b.formant_filter.sections[j].b0) << where;
            ASSERT_EQ(a.formant_filter.sections[j].a1, b.formant_filter.sections[j].a1) << where;
        }
    }
    ASSERT_EQ(a.bank.spread, b.bank.spread) << where;
    ASSERT_EQ(a.bank.drift, b.bank.drift) << where;
    if (a.bank.drift == 0.0f) { // drift offsets in the voices are running state
        for (std::size_t i = 0; i < a.bank.size(); ++i) {
            ASSERT_EQ(a.bank.oscillators[i].phase_increment, b.bank.oscillators[i].phase_increment) << where;
        }
    }
}

// One engine on the shared frame, one on the two-carrier frame, fed alike.
struct Pair {
    Pair() : shared(44100.0f), twin(44100.0f)
    {
        for (Harness* h : {&shared, &twin}) {
            h->processor.set_sample_rate(48000.0f);
            h->processor.reset();
        }
    }

    // One block through both engines; records a fatal failure on the first
    // mismatch.
    void block(const float* left, const float* right, std::size_t frames, bool playing, const std::string& where)
    {
        test::copy_params(shared.params, twin.params);
        twin.tempo = shared.tempo;
        shared.begin_block(playing);
        twin.begin_block(playing);
        // After the update the right carrier has caught up with the left one,
        // so all four carriers hold one and the same state.
        ASSERT_FALSE(shared.processor.right_carrier_lagging());
        expect_same_carrier(shared.processor.carrier_right, twin.processor.carrier_right, where + " right");
        expect_same_carrier(shared.processor.carrier_left, twin.processor.carrier_left, where + " left");
        expect_same_carrier(twin.processor.carrier_left, twin.processor.carrier_right, where + " twin pair");
        if (testing::Test::HasFatalFailure()) {
            return;
        }
        for (std::size_t i = 0; i < frames; ++i) {
            const auto [sl, sr] = shared.processor.process(left[i], right[i]);
            const auto [tl, tr] = twin.processor.process_two_carriers(left[i], right[i]);
            ASSERT_EQ(sl, tl) << where << " frame " << i;
            ASSERT_EQ(sr, tr) << where << " frame " << i;
            // Settings the frame changes reach the right carrier at once.
            expect_same_settings(shared.processor.carrier_right, twin.processor.carrier_right,
                                 where + " frame " + std::to_string(i));
            if (testing::Test::HasFatalFailure()) {
                return;
            }
        }
    }

    Harness shared;
    Harness twin;
};

TEST(SharedCarrier, EveryFactoryPresetMatchesTheTwoCarrierFrameBitForBit)
{
    constexpr std::size_t frames = 512;
    constexpr int blocks = 120; // about 1.3 s at 48 kHz
    const std::vector<float> left = test::noise(frames * blocks, 0x2468ACEu);
    const std::vector<float> right = test::noise(frames * blocks, 0x13579BDu);
    ASSERT_EQ(FACTORY_PRESETS.size(), 28u);
    for (const TessellgrovePreset& preset : FACTORY_PRESETS) {
        Pair pair;
        test::apply_preset(pair.shared.params, preset);
        for (int b = 0; b < blocks; ++b) {
            const std::size_t at = static_cast<std::size_t>(b) * frames;
            pair.block(&left[at], &right[at], frames, true, preset.name + " block " + std::to_string(b));
            if (testing::Test::HasFatalFailure()) {
                return;
            }
        }
    }
}

TEST(SharedCarrier, RandomAutomationMatchesTheTwoCarrierFrameBitForBit)
{
    std::mt19937 rng(0x5EEDu);
    std::uniform_int_distribution<std::size_t> block_length(1, 600);
    std::uniform_real_distribution<float> tempo(10.0f, 400.0f);
    std::bernoulli_distribution coin(0.5);
    const std::vector<float> left = test::noise(600, 0xBEEFu);
    const std::vector<float> right = test::noise(600, 0xF00Du);
    for (int trial = 0; trial < 12; ++trial) {
        Pair pair;
        test::automate(pair.shared.params, rng, 1.0);
        for (int b = 0; b < 80; ++b) {
            // Host blocks of any length, each piece with its own changes.
            test::automate(pair.shared.params, rng, 0.2);
            if (b % 10 == 0) {
                pair.shared.tempo = tempo(rng);
            }
            pair.block(left.data(), right.data(), block_length(rng), coin(rng),
                       "trial " + std::to_string(trial) + " block " + std::to_string(b));
            if (testing::Test::HasFatalFailure()) {
                return;
            }
        }
    }
}

TEST(SharedCarrier, LaggingRightCarrierCatchesUpBeforeResetAndRateChanges)
{
    // Frames on the shared path, then the calls that use the right carrier's
    // running state directly: each must see it caught up.
    for (int call = 0; call < 3; ++call) {
        Harness shared;
        Harness twin;
        for (Harness* h : {&shared, &twin}) {
            h->params.carrier_mode.set_plain_value(2);
            h->params.swarm_drift.set_plain_value(0.9f);
            h->params.lock_motion_enable.set_plain_value(true);
            h->begin_block();
        }
        for (int i = 0; i < 777; ++i) {
            shared.processor.process(0.3f, -0.2f);
            twin.processor.process_two_carriers(0.3f, -0.2f);
        }
        ASSERT_TRUE(shared.processor.right_carrier_lagging());
        for (Harness* h : {&shared, &twin}) {
            switch (call) {
            case 0: h->processor.reset(); break;
            case 1: h->processor.set_sample_rate(96000.0f); break;
            default: h->processor.set_swarm_count(9); break;
            }
        }
        expect_same_carrier(shared.processor.carrier_right, twin.processor.carrier_right,
                            "call " + std::to_string(call));
    }
}

} // namespace
} // namespace tessellgrove
