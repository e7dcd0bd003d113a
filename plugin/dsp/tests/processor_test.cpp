#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/dsp/tests/engine_harness.hpp"

namespace tessellgrove {
namespace {

using test::Harness;

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

TEST(Processor, SilenceGivesExactZerosInEveryCarrierAndCharacterMode)
{
    for (int32_t carrier = 0; carrier < 3; ++carrier) {
        for (int32_t character = 0; character < 4; ++character) {
            Harness h;
            h.params.carrier_mode.set_plain_value(carrier);
            h.params.char_mode.set_plain_value(character);
            for (int block = 0; block < 8; ++block) {
                for (const auto& [l, r] : h.run(512, 0.0f, 0.0f)) {
                    ASSERT_EQ(l, 0.0f) << "carrier " << carrier << " character " << character;
                    ASSERT_EQ(r, 0.0f) << "carrier " << carrier << " character " << character;
                }
            }
        }
    }
}

TEST(Processor, DryOnlyMixPassesInputClampedToFour)
{
    struct Case {
        float left;
        float right;
    };
    const Case cases[] = {{0.25f, -0.5f}, {1.0f, 1.0f}, {7.5f, -7.5f}, {3.99f, -4.01f}, {1.0e6f, -3.0f}};
    Harness h;
    h.params.mix.set_plain_value(0.0f);
    h.params.carrier_mode.set_plain_value(2);
    h.params.comb_mix.set_plain_value(1.0f);
    h.params.comb_feedback.set_plain_value(0.9f);
    h.begin_block();
    for (const Case& c : cases) {
        for (int i = 0; i < 64; ++i) {
            const auto [l, r] = h.processor.process(c.left, c.right);
            ASSERT_FLOAT_EQ(l, std::clamp(c.left, -4.0f, 4.0f)) << c.left;
            ASSERT_FLOAT_EQ(r, std::clamp(c.right, -4.0f, 4.0f)) << c.right;
        }
    }
}

TEST(Processor, ZeroWidthGivesTheMidSignalOnBothSides)
{
    Harness wide;
    Harness mono;
    mono.params.stereo_width.set_plain_value(0.0f);
    for (Harness* h : {&wide, &mono}) {
        h->params.carrier_mode.set_plain_value(1);
        h->begin_block();
    }
    for (int i = 0; i < 4096; ++i) {
        const float left = std::sin(0.01f * static_cast<float>(i));
        const float right = 0.3f * std::cos(0.037f * static_cast<float>(i));
        const auto [wl, wr] = wide.processor.process(left, right);
        const auto [ml, mr] = mono.processor.process(left, right);
        ASSERT_EQ(ml, mr) << i;
        ASSERT_NEAR(ml, 0.5f * (wl + wr), 1e-6f) << i;
    }
}

TEST(Processor, NonFiniteOrOversizedOutputIsMadeSafe)
{
    struct Case {
        float input;
        float output_gain;
        float expected;
    };
    const Case cases[] = {
        {1.0f, inf, 0.0f},   {1.0f, -inf, 0.0f}, {1.0f, nan, 0.0f},
        {7.5f, 1.0f, 4.0f},  {-7.5f, 1.0f, -4.0f}, {1.0f, 3.5f, 3.5f},
    };
    for (const Case& c : cases) {
        Harness h;
        h.params.mix.set_plain_value(0.0f);
        h.begin_block();
        h.processor.output_gain = c.output_gain;
        const auto [l, r] = h.processor.process(c.input, c.input);
        EXPECT_EQ(l, c.expected) << c.input << " x " << c.output_gain;
        EXPECT_EQ(r, c.expected) << c.input << " x " << c.output_gain;
    }
}

// Records the carrier mode after every frame and returns (frame, mode) for
// each change.
std::vector<std::pair<std::size_t, uint8_t>> mode_changes(Harness& h, std::size_t frames)
{
    std::vector<std::pair<std::size_t, uint8_t>> changes;
    uint8_t mode = h.processor.carrier_left.mode;
    for (std::size_t i = 0; i < frames; ++i) {
        if (i % 512 == 0) {
            h.begin_block();
        }
        h.processor.process(0.1f, 0.1f);
        EXPECT_EQ(h.processor.carrier_right.mode, h.processor.carrier_left.mode);
        if (h.processor.carrier_left.mode != mode) {
            mode = h.processor.carrier_left.mode;
            changes.emplace_back(i, mode);
        }
    }
    return changes;
}

TEST(Processor, ModeCycleStepsStochSwarmFormantOncePerCycle)
{
    Harness h;
    h.params.mode_cycle_enable.set_plain_value(true);
    h.params.mode_cycle_div.set_plain_value(3); // 1/32 at 120 BPM: 16 Hz
    h.params.carrier_mode.set_plain_value(2);   // ignored while cycling
    const auto changes = mode_changes(h, 4 * 2757 + 1500);
    ASSERT_EQ(changes.size(), 5u);
    const uint8_t expected[] = {1, 2, 0, 1, 2};
    for (std::size_t k = 0; k < changes.size(); ++k) {
        EXPECT_EQ(changes[k].second, expected[k]) << k;
    }
    // The saw rises through zero half way into its cycle, then every
    // 44100 / 16 = 2756.25 frames.
    EXPECT_NEAR(static_cast<double>(changes[0].first), 1378.0, 1.0);
    for (std::size_t k = 1; k < changes.size(); ++k) {
        EXPECT_NEAR(static_cast<double>(changes[k].first - changes[k - 1].first), 2756.25, 1.0);
    }

    // After a reset the count restarts: the next step goes to "Stoch" from
    // "Swarm", not on to "Formant".
    h.processor.reset();
    const auto after_reset = mode_changes(h, 2000);
    ASSERT_EQ(after_reset.size(), 1u);
    EXPECT_EQ(after_reset[0].second, 1);
}

// Runs `frames` frames in 64-frame blocks with the transport playing and
// returns the 1-based frame count (since `counted_from`) at which the
// character mode first became `mode`, or 0.
std::size_t frames_until_character(Harness& h, uint8_t mode, std::size_t frames)
{
    for (std::size_t i = 0; i < frames; ++i) {
        if (i % 64 == 0) {
            h.begin_block(true);
        }
        h.processor.process(0.2f, -0.2f);
        if (h.processor.character_mode == mode) {
            return i + 1;
        }
    }
    return 0;
}

TEST(Processor, CharacterChangeWhilePlayingLandsOnTheHalfBeatGrid)
{
    Harness h; // 120 BPM at 44100 Hz: a boundary every 11025 frames
    EXPECT_EQ(frames_until_character(h, 3, 5000), 0u);

    // Two changes within one half beat: only the second lands, at the
    // boundary 11025 frames after the transport started.
    h.params.char_mode.set_plain_value(2);
    h.begin_block(true);
    EXPECT_EQ(h.processor.character_mode, 0);
    h.params.char_mode.set_plain_value(3);
    std::size_t landed = 0;
    bool saw_warm = false;
    for (std::size_t i = 5000; i < 12000 && landed == 0; ++i) {
        if (i % 64 == 0) {
            h.begin_block(true);
        }
        h.processor.process(0.2f, -0.2f);
        saw_warm = saw_warm || h.processor.character_mode == 2;
        if (h.processor.character_mode == 3) {
            landed = i + 1;
        }
    }
    EXPECT_EQ(landed, 11025u);
    EXPECT_FALSE(saw_warm);
}

TEST(Processor, StoppingAppliesAWaitingChangeAtOnce)
{
    Harness h;
    frames_until_character(h, 1, 100);
    h.params.char_mode.set_plain_value(1);
    h.begin_block(true);
    EXPECT_EQ(h.processor.character_mode, 0);
    EXPECT_EQ(h.processor.pending_character_mode, 1);
    h.processor.set_playing(false);
    EXPECT_EQ(h.processor.character_mode, 1);
    EXPECT_EQ(h.processor.pending_character_mode, TessellgroveProcessor::no_pending_mode);

    // While stopped the parameter applies immediately.
    h.params.char_mode.set_plain_value(2);
    h.begin_block(false);
    EXPECT_EQ(h.processor.character_mode, 2);
}

TEST(Processor, StartingTheTransportRestartsTheGridCount)
{
    Harness h;
    EXPECT_EQ(frames_until_character(h, 3, 7000), 0u); // grid counter now at 7000
    h.begin_block(false);                               // transport stops
    h.params.char_mode.set_plain_value(3);
    // Without the restart the boundary would come 4025 frames in.
    EXPECT_EQ(frames_until_character(h, 3, 12000), 11025u);
}

TEST(Processor, SwarmCountIsClampedToTwoThroughSixteen)
{
    struct Case {
        std::size_t request;
        std::size_t voices;
    };
    const Case cases[] = {{0, 2},  {1, 2},  {2, 2},  {3, 3},
                          {9, 9},  {16, 16}, {17, 16}, {std::numeric_limits<std::size_t>::max(), 16}};
    for (const Case& c : cases) {
        TessellgroveProcessor p(44100.0f);
        p.set_swarm_count(c.request);
        EXPECT_EQ(p.carrier_left.bank.size(), c.voices) << c.request;
        EXPECT_EQ(p.carrier_right.bank.size(), c.voices) << c.request;
    }
}

TEST(Processor, RepeatedSwarmCountKeepsPhasesAndNewCountRebuilds)
{
    Harness h;
    h.params.carrier_mode.set_plain_value(2);
    h.params.swarm_count.set_plain_value(6);
    h.params.swarm_spread.set_plain_value(0.8f);
    h.params.swarm_drift.set_plain_value(0.7f);
    h.params.lock_freq.set_plain_value(300.0f);
    h.run(1000, 0.5f, 0.5f);
    const auto& bank = h.processor.carrier_left.bank;
    ASSERT_EQ(bank.size(), 6u);
    std::vector<float> phases;
    for (std::size_t i = 0; i < bank.size(); ++i) {
        phases.push_back(bank.oscillators[i].phase);
    }
    h.processor.set_swarm_count(6);
    for (std::size_t i = 0; i < bank.size(); ++i) {
        EXPECT_EQ(bank.oscillators[i].phase, phases[i]) << i;
    }
    EXPECT_EQ(bank.drift_counter, (1000u % 32u));

    // A new count: fresh golden-ratio phases, the carrier's settings at once.
    h.processor.set_swarm_count(11);
    for (const Carrier* c : {&h.processor.carrier_left, &h.processor.carrier_right}) {
        ASSERT_EQ(c->bank.size(), 11u);
        for (std::size_t i = 0; i < c->bank.size(); ++i) {
            const float golden = static_cast<float>(i) * 0.618034f;
            EXPECT_FLOAT_EQ(c->bank.oscillators[i].phase, golden - std::floor(golden)) << i;
        }
        EXPECT_EQ(c->bank.frequency, 300.0f);
        EXPECT_EQ(c->bank.spread, 0.8f);
        EXPECT_EQ(c->bank.drift, 0.7f);
        EXPECT_EQ(c->bank.drift_counter, 0u);
    }
}

TEST(Processor, FullTriggerDepthSilencesTheSecondHalfOfTheWetPath)
{
    for (float mix : {1.0f, 0.5f}) {
        Harness h;
        h.params.mix.set_plain_value(mix);
        h.params.carrier_mode.set_plain_value(2);
        h.params.trig_amount.set_plain_value(1.0f);
        h.begin_block();
        const float input = 0.5f;
        const float dry = (1.0f - mix) * input;
        std::size_t gated = 0;
        std::size_t open_and_wet = 0;
        for (int i = 0; i < 44100; ++i) {
            const bool second_half = h.processor.trigger_lfo.phase >= 0.5f;
            const auto [l, r] = h.processor.process(input, input);
            if (second_half) {
                ASSERT_EQ(l, dry) << "mix " << mix << " frame " << i;
                ASSERT_EQ(r, dry) << "mix " << mix << " frame " << i;
                ++gated;
            } else if (std::fabs(l - dry) > 1e-3f) {
                ++open_and_wet;
            }
        }
        // 4 Hz at 44100 Hz: half of every 11025-frame cycle is gated.
        EXPECT_NEAR(static_cast<double>(gated), 22050.0, 4.0) << mix;
        EXPECT_GT(open_and_wet, 10000u) << mix;
    }
}

TEST(Processor, BadInputSampleIsTreatedAsSilence)
{
    // Every stateful block on: envelope push, tone filter, comb memory.
    const float bad[] = {nan, inf, -inf};
    for (float b : bad) {
        Harness clean;
        Harness dirty;
        for (Harness* h : {&clean, &dirty}) {
            h->params.carrier_env_amount.set_plain_value(1.0f);
            h->params.char_mode.set_plain_value(2);
            h->params.comb_feedback.set_plain_value(0.9f);
            h->params.comb_mix.set_plain_value(0.5f);
            h->begin_block();
        }
        float energy_after = 0.0f;
        for (int i = 0; i < 8192; ++i) {
            const float x = 0.5f * std::sin(0.02f * static_cast<float>(i));
            const bool hit = i >= 1000 && i < 1003;
            const auto [cl, cr] = clean.processor.process(hit ? 0.0f : x, hit ? 0.0f : -x);
            const auto [dl, dr] = dirty.processor.process(hit ? b : x, hit ? b : -x);
            ASSERT_EQ(cl, dl) << i;
            ASSERT_EQ(cr, dr) << i;
            if (i > 1003) {
                energy_after += dl * dl + dr * dr;
            }
        }
        EXPECT_GT(energy_after, 100.0f) << b;
    }
}

} // namespace
} // namespace tessellgrove
