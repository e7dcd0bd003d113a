#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "dsp_kit/primitives/fast_exp2.hpp"
#include "plugin/dsp/carrier.hpp"

namespace tessellgrove {
namespace {

TEST(Carrier, StochFrequencyStaysWithinSpreadAndLimits)
{
    struct Case {
        float frequency;
        float spread;
        float smoothing;
        float lowest;  // expected bounds of the generator's sine frequency
        float highest;
    };
    // fast_exp2 runs from 0.9998465 at whole exponents to 2.0035 just below
    // the next one, so two octaves up reach at most 4.007 times the carrier.
    const float p0 = dsp_kit::fast_exp2(0.0f);
    const float top = 2.0f * 2.0035f;
    const Case cases[] = {
        {440.0f, 0.0f, 0.0f, 440.0f * p0, 440.0f * p0}, // plain sine whatever the draws
        {440.0f, 1.0f, 0.0f, 110.0f * p0, 440.0f * top},
        {40.0f, 1.0f, 0.0f, 40.0f, 40.0f * top}, // never below 40 Hz
        {4000.0f, 1.0f, 0.5f, 1000.0f * p0, 5000.0f},
    };
    for (const Case& c : cases) {
        Carrier carrier(44100.0f);
        carrier.mode = static_cast<uint8_t>(CarrierMode::Stoch);
        carrier.set_frequency(c.frequency);
        carrier.stoch_spread = c.spread;
        carrier.sample_hold.set_smoothing(c.smoothing);
        carrier.set_stoch_density(1.0f); // 50 draws per second
        float lowest = 1e9f;
        float highest = 0.0f;
        for (int i = 0; i < 44100; ++i) {
            const float y = carrier.next();
            ASSERT_LE(std::fabs(y), 1.0f);
            lowest = std::min(lowest, carrier.stoch_oscillator.frequency);
            highest = std::max(highest, carrier.stoch_oscillator.frequency);
        }
        EXPECT_GE(lowest, c.lowest * 0.9999f) << c.frequency << " spread " << c.spread;
        EXPECT_LE(highest, c.highest * 1.0001f) << c.frequency << " spread " << c.spread;
        if (c.spread == 0.0f) {
            EXPECT_FLOAT_EQ(highest, 439.93246f);
        } else {
            EXPECT_GT(highest / lowest, 2.0f) << "draws should spread the pitch";
        }
    }
}

TEST(Carrier, FormantSweepStaysWithinAQuarterOfThePosition)
{
    struct Case {
        float position;
        float morph_rate;
        float lowest;
        float highest;
    };
    const Case cases[] = {
        {0.5f, 0.0f, 0.5f, 0.5f},     // no sweep: the filter sits on the position
        {0.5f, 0.001f, 0.5f, 0.5f},   // at the threshold still off
        {0.5f, 4.0f, 0.25f, 0.75f},
        {0.1f, 4.0f, 0.0f, 0.35f},    // limited to 0..1
    };
    for (const Case& c : cases) {
        Carrier carrier(44100.0f);
        carrier.formant_morph_rate = c.morph_rate;
        carrier.morph_lfo.set_rate(std::max(c.morph_rate, 0.001f));
        carrier.set_formant_position(c.position);
        float lowest = 1.0f;
        float highest = 0.0f;
        for (int i = 0; i < 44100; ++i) {
            carrier.next();
            lowest = std::min(lowest, carrier.formant_filter.position);
            highest = std::max(highest, carrier.formant_filter.position);
        }
        if (c.morph_rate > 0.001f) {
            EXPECT_NEAR(lowest, c.lowest, 1e-3f) << c.position;
            EXPECT_NEAR(highest, c.highest, 1e-3f) << c.position;
        } else {
            EXPECT_EQ(lowest, c.position);
            EXPECT_EQ(highest, c.position);
        }
    }
}

TEST(Carrier, IdleGeneratorsHoldTheirPhases)
{
    Carrier carrier(44100.0f);
    carrier.mode = static_cast<uint8_t>(CarrierMode::Swarm);
    for (int i = 0; i < 100; ++i) {
        carrier.next();
    }
    EXPECT_EQ(carrier.formant_oscillator.phase, 0.0f);
    EXPECT_EQ(carrier.stoch_oscillator.phase, 0.0f);
    EXPECT_EQ(carrier.sample_hold.phase, 0.0f);
    EXPECT_NE(carrier.bank.oscillators[0].phase, 0.0f);
}

TEST(Carrier, AfterResetACarrierWithHistoryMatchesAnUnusedOne)
{
    Carrier used(48000.0f);
    Carrier unused(48000.0f);
    for (Carrier* c : {&used, &unused}) {
        c->set_frequency(300.0f);
        c->stoch_spread = 0.7f;
        c->set_stoch_density(0.9f);
        c->formant_filter.set_position(0.3f);
    }
    // History in every generator: oscillator phases, filter memory, clock.
    for (uint8_t mode : {uint8_t{0}, uint8_t{1}}) {
        used.mode = mode;
        for (int i = 0; i < 3001; ++i) {
            used.next();
        }
    }
    used.reset();
    unused.reset();
    // The random source continues its sequence across a reset; line the
    // unused one up with it so only the cleared state is compared.
    unused.sample_hold.rng_state = used.sample_hold.rng_state;
    unused.sample_hold.held = unused.sample_hold.smoothed = used.sample_hold.held;
    for (int i = 0; i < 6000; ++i) {
        const uint8_t mode = i < 3000 ? 0 : 1;
        used.mode = unused.mode = mode;
        ASSERT_EQ(used.next(), unused.next()) << i;
    }
}

} // namespace
} // namespace tessellgrove
