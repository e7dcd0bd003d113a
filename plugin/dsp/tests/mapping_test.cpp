#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "plugin/dsp/tests/engine_harness.hpp"

namespace tessellgrove {
namespace {

using test::Harness;

TEST(Mapping, DecibelGainsBecomeLinear)
{
    struct Case {
        float input_db;
        float output_db;
        float input_linear;
        float output_linear;
    };
    const Case cases[] = {
        {-12.0f, 0.0f, 0.2511886f, 1.0f},
        {12.0f, -24.0f, 3.9810717f, 0.0630957f},
        {0.0f, 12.0f, 1.0f, 3.9810717f},
    };
    for (const Case& c : cases) {
        Harness h;
        h.params.input_gain.set_plain_value(c.input_db);
        h.params.output_gain.set_plain_value(c.output_db);
        h.begin_block();
        EXPECT_FLOAT_EQ(h.processor.input_gain, c.input_linear) << c.input_db;
        EXPECT_FLOAT_EQ(h.processor.output_gain, c.output_linear) << c.output_db;
    }
    Harness h;
    h.begin_block();
    EXPECT_EQ(h.processor.output_gain, 1.0f); // 0 dB is exactly unity
    EXPECT_EQ(h.processor.input_gain, 1.0f);
}

TEST(Mapping, HostTempoIsClampedAndDrivesTheGrid)
{
    struct Case {
        float host_tempo;
        float tempo;
        uint32_t grid_period;
    };
    const Case cases[] = {
        {10.0f, 20.0f, 66150u},   {400.0f, 300.0f, 4410u},
        {120.0f, 120.0f, 11025u}, {-5.0f, 20.0f, 66150u},
        {std::numeric_limits<float>::infinity(), 300.0f, 4410u},
    };
    for (const Case& c : cases) {
        Harness h;
        h.tempo = c.host_tempo;
        h.begin_block();
        EXPECT_EQ(h.processor.tempo, c.tempo) << c.host_tempo;
        EXPECT_EQ(h.processor.grid_period, c.grid_period) << c.host_tempo;
    }
}

TEST(Mapping, NanTempoKeepsTheLastGoodTempo)
{
    Harness h;
    h.tempo = 90.0f;
    h.params.lock_motion_enable.set_plain_value(true);
    h.params.lock_motion_depth.set_plain_value(1.0f);
    h.begin_block();
    h.tempo = std::numeric_limits<float>::quiet_NaN();
    h.begin_block();
    EXPECT_EQ(h.processor.tempo, 90.0f);
    EXPECT_FLOAT_EQ(h.processor.lock_lfo.rate, 1.5f);
    for (const auto& [l, r] : h.run(2048, 0.5f, 0.5f)) {
        ASSERT_TRUE(std::isfinite(l) && std::isfinite(r));
    }
    EXPECT_TRUE(std::isfinite(h.processor.lock_lfo.phase));
}

TEST(Mapping, TempoSyncedRatesAt120Bpm)
{
    enum class Target { Lock, Trigger, Cycle };
    struct Case {
        Target target;
        int32_t index;
        float hz;
    };
    const Case cases[] = {
        {Target::Lock, 4, 2.0f},     // 1/4
        {Target::Lock, 0, 0.125f},   // 4 bars
        {Target::Lock, 2, 0.5f},     // 1 bar
        {Target::Lock, 7, 3.0f},     // 1/4T
        {Target::Lock, 8, 6.0f},     // 1/8T
        {Target::Trigger, 1, 4.0f},  // 1/8
        {Target::Trigger, 3, 16.0f}, // 1/32
        {Target::Cycle, 3, 16.0f},   // 1/32
        {Target::Cycle, 0, 2.0f},    // 1/4
    };
    for (const Case& c : cases) {
        Harness h;
        switch (c.target) {
        case Target::Lock: h.params.lock_motion_rate.set_plain_value(c.index); break;
        case Target::Trigger: h.params.trig_div.set_plain_value(c.index); break;
        case Target::Cycle: h.params.mode_cycle_div.set_plain_value(c.index); break;
        }
        h.begin_block();
        const dsp_kit::Lfo& lfo = c.target == Target::Lock      ? h.processor.lock_lfo
                                  : c.target == Target::Trigger ? h.processor.trigger_lfo
                                                                : h.processor.cycle_lfo;
        EXPECT_FLOAT_EQ(lfo.rate, c.hz) << static_cast<int>(c.target) << " index " << c.index;
        EXPECT_FLOAT_EQ(lfo.phase_increment, c.hz / 44100.0f);
    }
}

TEST(Mapping, ModeCycleOwnsTheCarrierModesWhileOn)
{
    Harness h;
    h.params.carrier_mode.set_plain_value(1);
    h.begin_block();
    EXPECT_EQ(h.processor.carrier_left.mode, 1);

    h.params.mode_cycle_enable.set_plain_value(true);
    h.params.carrier_mode.set_plain_value(2);
    h.begin_block();
    EXPECT_EQ(h.processor.carrier_left.mode, 1);
    EXPECT_EQ(h.processor.carrier_right.mode, 1);
    h.processor.cycle_count = 2;

    h.params.mode_cycle_enable.set_plain_value(false);
    h.begin_block();
    EXPECT_EQ(h.processor.carrier_left.mode, 2);
    EXPECT_EQ(h.processor.carrier_right.mode, 2);
    EXPECT_EQ(h.processor.cycle_count, 0u);
}

TEST(Mapping, LockFrequencyFollowsTheSwitchOfThePreviousBlock)
{
    // Depth 0 keeps the modulator from touching the frequency, so what the
    // carriers hold shows what the mapping wrote.
    struct Step {
        bool enable;
        float lock_freq;
        float carrier_hz;
    };
    const Step steps[] = {
        {true, 1000.0f, 1000.0f},  // was off: frequency written
        {true, 2000.0f, 1000.0f},  // now on: left alone
        {false, 2000.0f, 1000.0f}, // on in the previous block: still left alone
        {false, 2000.0f, 2000.0f}, // off: written again
        {false, 9000.0f, 5000.0f}, // clamped to 40..5000
        {false, 10.0f, 40.0f},
    };
    Harness h;
    h.params.lock_motion_depth.set_plain_value(0.0f);
    for (const Step& s : steps) {
        h.params.lock_motion_enable.set_plain_value(s.enable);
        h.params.lock_freq.set_plain_value(s.lock_freq);
        h.begin_block();
        EXPECT_EQ(h.processor.lock_freq, s.lock_freq);
        EXPECT_EQ(h.processor.carrier_left.frequency, s.carrier_hz) << s.lock_freq;
        EXPECT_EQ(h.processor.carrier_right.frequency, s.carrier_hz) << s.lock_freq;
        EXPECT_EQ(h.processor.carrier_left.bank.frequency, s.carrier_hz) << s.lock_freq;
    }
}

TEST(Mapping, CharacterAmountSetsDrivesGainAndFoldStages)
{
    struct Case {
        float amount;
        uint32_t stages;
        float grit;
        float warm;
        float fold;
        float fold_gain;
    };
    const Case cases[] = {
        {0.0f, 1u, 0.5f, 0.4f, 0.6f, 1.5f},   {0.3f, 1u, 0.65f, 0.58f, 0.72f, 1.95f},
        {0.31f, 2u, 0.655f, 0.586f, 0.724f, 1.965f}, {0.7f, 2u, 0.85f, 0.82f, 0.88f, 2.55f},
        {0.71f, 3u, 0.855f, 0.826f, 0.884f, 2.565f}, {1.0f, 3u, 1.0f, 1.0f, 1.0f, 3.0f},
        {-2.0f, 1u, 0.5f, 0.4f, 0.6f, 1.5f},  {7.0f, 3u, 1.0f, 1.0f, 1.0f, 3.0f},
    };
    for (const Case& c : cases) {
        Harness h;
        h.params.char_amount.set_plain_value(c.amount);
        h.begin_block();
        const TessellgroveProcessor& p = h.processor;
        EXPECT_EQ(p.wavefolder.stages, c.stages) << c.amount;
        EXPECT_FLOAT_EQ(p.grit_saturator.drive, c.grit) << c.amount;
        EXPECT_FLOAT_EQ(p.warm_saturator.drive, c.warm) << c.amount;
        EXPECT_FLOAT_EQ(p.wavefolder.drive, c.fold) << c.amount;
        EXPECT_FLOAT_EQ(p.fold_gain, c.fold_gain) << c.amount;
        EXPECT_FLOAT_EQ(p.character_amount, std::fmin(std::fmax(c.amount, 0.0f), 1.0f));
    }
}

TEST(Mapping, StochDensitySetsTheClockOfBothCarriers)
{
    struct Case {
        float density;
        float clock_hz;
    };
    const Case cases[] = {{1.0f, 50.0f}, {0.0f, 0.5f}, {0.5f, 25.25f}, {3.0f, 50.0f}, {-1.0f, 0.5f}};
    for (const Case& c : cases) {
        Harness h;
        h.params.stoch_density.set_plain_value(c.density);
        h.begin_block();
        EXPECT_EQ(h.processor.stoch_density_base, c.density);
        for (const Carrier* carrier : {&h.processor.carrier_left, &h.processor.carrier_right}) {
            EXPECT_FLOAT_EQ(carrier->sample_hold.rate, c.clock_hz) << c.density;
            EXPECT_FLOAT_EQ(carrier->sample_hold.phase_increment, c.clock_hz / 44100.0f);
        }
    }
}

TEST(Mapping, EnvelopePushMovesStochSettingsAboveTheirBase)
{
    Harness h;
    h.params.carrier_mode.set_plain_value(1);
    h.params.carrier_env_amount.set_plain_value(1.0f);
    h.params.stoch_spread.set_plain_value(0.2f);
    h.params.stoch_density.set_plain_value(0.1f);
    h.run(4410, 1.0f, 1.0f); // 100 ms at full level: the follower is near 1
    const float e = h.processor.envelope.level;
    ASSERT_GT(e, 0.99f);
    EXPECT_FLOAT_EQ(h.processor.carrier_left.stoch_spread, 0.2f + 0.5f * e);
    EXPECT_FLOAT_EQ(h.processor.carrier_right.stoch_density, 0.1f + 0.3f * e);
    EXPECT_FLOAT_EQ(h.processor.carrier_left.sample_hold.rate, 49.5f * (0.1f + 0.3f * e) + 0.5f);
    // The next block puts the user's values back before the push resumes.
    h.begin_block();
    EXPECT_FLOAT_EQ(h.processor.carrier_left.stoch_spread, 0.2f);
}

} // namespace
} // namespace tessellgrove
