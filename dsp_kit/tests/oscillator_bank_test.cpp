// OscillatorBank: voice counts, the voice law, drift and reset.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "dsp_kit/oscillator/oscillator_bank.hpp"
#include "dsp_kit/primitives/fast_exp2.hpp"

using dsp_kit::OscillatorBank;
using dsp_kit::fast_exp2;

TEST(OscillatorBank, VoiceCountIsLimitedToTwoThroughSixteen)
{
    struct Case { std::size_t requested; std::size_t built; };
    const Case cases[] = {
        {0, 2}, {1, 2}, {2, 2}, {3, 3}, {7, 7}, {16, 16}, {17, 16}, {40, 16},
        {std::numeric_limits<std::size_t>::max(), 16},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OscillatorBank(c.requested, 44100.0f).size(), c.built) << c.requested;
    }
}

TEST(OscillatorBank, NewBankStartsOnGoldenRatioPhasesAtTheBaseFrequency)
{
    const OscillatorBank bank(16, 48000.0f);
    const float phases[] = {0.0f, 0.618034f, 0.236068f, 0.854102f};
    for (std::size_t i = 0; i < std::size(phases); ++i) {
        EXPECT_NEAR(bank.oscillators[i].phase, phases[i], 1e-5f);
    }
    for (std::size_t i = 0; i < bank.size(); ++i) {
        EXPECT_FLOAT_EQ(bank.oscillators[i].frequency, 439.93246f) << i;
        EXPECT_FLOAT_EQ(bank.oscillators[i].phase_increment, 439.93246f / 48000.0f) << i;
        EXPECT_FLOAT_EQ(bank.drift_phases[i], 0.1f * static_cast<float>(i));
    }
    EXPECT_FLOAT_EQ(bank.drift_rates[0], 0.1f);
    EXPECT_FLOAT_EQ(bank.drift_rates[15], 0.55f);
}

TEST(OscillatorBank, SpreadPlacesVoicesEvenlyInLogFrequency)
{
    {
        OscillatorBank bank(2, 44100.0f);
        bank.set_spread(1.0f);
        EXPECT_FLOAT_EQ(bank.oscillators[0].frequency, 219.96623f);
        EXPECT_FLOAT_EQ(bank.oscillators[1].frequency, 879.86492f);
    }
    {
        OscillatorBank bank(5, 44100.0f);
        bank.set_frequency(300.0f);
        bank.set_spread(0.5f);
        const float exponents[] = {-0.5f, -0.25f, 0.0f, 0.25f, 0.5f};
        for (std::size_t i = 0; i < 5; ++i) {
            EXPECT_FLOAT_EQ(bank.oscillators[i].frequency, 300.0f * fast_exp2(exponents[i])) << i;
        }
    }
}

TEST(OscillatorBank, SettersClamp)
{
    OscillatorBank bank(4, 44100.0f);
    bank.set_spread(3.0f);
    EXPECT_EQ(bank.spread, 1.0f);
    bank.set_spread(-1.0f);
    EXPECT_EQ(bank.spread, 0.0f);
    bank.set_drift(2.0f);
    EXPECT_EQ(bank.drift, 1.0f);
    bank.set_drift(-2.0f);
    EXPECT_EQ(bank.drift, 0.0f);
    bank.set_frequency(-50.0f);
    EXPECT_EQ(bank.frequency, 0.0f);
    for (std::size_t i = 0; i < bank.size(); ++i) {
        EXPECT_EQ(bank.oscillators[i].frequency, 0.0f);
    }
}

TEST(OscillatorBank, SampleRateChangeKeepsFrequencies)
{
    OscillatorBank bank(3, 44100.0f);
    bank.set_frequency(1000.0f);
    bank.set_spread(1.0f);
    const float high = bank.oscillators[2].frequency;
    bank.set_sample_rate(96000.0f);
    EXPECT_EQ(bank.oscillators[2].frequency, high);
    EXPECT_FLOAT_EQ(bank.oscillators[2].phase_increment, high / 96000.0f);
    EXPECT_EQ(bank.oscillators[0].sample_rate, 96000.0f);
}

TEST(OscillatorBank, DriftRefreshesEveryThirtyTwoSamplesWithinOnePercent)
{
    OscillatorBank bank(4, 44100.0f);
    bank.set_frequency(1000.0f);
    bank.set_spread(0.5f);
    bank.set_drift(1.0f);
    float law[4];
    for (std::size_t i = 0; i < 4; ++i) {
        law[i] = bank.oscillators[i].frequency;
    }
    for (int n = 0; n < 31; ++n) {
        bank.process();
    }
    EXPECT_EQ(bank.oscillators[1].frequency, law[1]) << "no drift update before the 32nd sample";
    bank.process();
    EXPECT_NE(bank.oscillators[1].frequency, law[1]);
    EXPECT_EQ(bank.drift_counter, 0u);

    float widest = 0.0f;
    for (int n = 0; n < 44100 * 6; ++n) {
        bank.process();
        for (std::size_t i = 0; i < 4; ++i) {
            const float offset = std::fabs(bank.oscillators[i].frequency - law[i]);
            ASSERT_LE(offset, 10.0f + 1e-3f);
            widest = std::max(widest, offset);
        }
    }
    EXPECT_GT(widest, 9.0f); // the drift really spans most of its ±1 % range
}

TEST(OscillatorBank, ZeroDriftHoldsTheCounterAndTheLastOffsets)
{
    OscillatorBank bank(4, 44100.0f);
    bank.set_frequency(1000.0f);
    bank.set_drift(1.0f);
    for (int n = 0; n < 32 * 10 + 5; ++n) {
        bank.process();
    }
    const float drifted = bank.oscillators[3].frequency;
    ASSERT_NE(drifted, 1000.0f * fast_exp2(0.0f));
    const std::uint32_t counter = bank.drift_counter;

    bank.set_drift(0.0f);
    for (int n = 0; n < 1000; ++n) {
        bank.process();
    }
    EXPECT_EQ(bank.drift_counter, counter);
    EXPECT_EQ(bank.oscillators[3].frequency, drifted);

    bank.set_frequency(1000.0f); // the voice law removes the offset
    EXPECT_EQ(bank.oscillators[3].frequency, 1000.0f * fast_exp2(0.0f));
}

TEST(OscillatorBank, SameFrequencyVoicesDoNotSumToAFullScaleSine)
{
    for (std::size_t n : {2u, 4u, 16u}) {
        OscillatorBank bank(n, 44100.0f);
        float peak = 0.0f;
        for (int i = 0; i < 44100; ++i) {
            peak = std::max(peak, std::fabs(bank.process()));
        }
        EXPECT_LT(peak, 0.99f) << n << " voices";
        EXPECT_GT(peak, 0.01f) << n << " voices";
    }
}

TEST(OscillatorBank, ResetAndRebuildMatchAFreshBank)
{
    const float sr = 48000.0f;
    auto configure = [](OscillatorBank& b) {
        b.set_frequency(220.0f);
        b.set_spread(0.7f);
    };
    OscillatorBank fresh(6, sr);
    configure(fresh);

    OscillatorBank used(6, sr);
    configure(used);
    for (int n = 0; n < 12345; ++n) {
        used.process();
    }
    used.reset();
    for (int n = 0; n < 4096; ++n) {
        ASSERT_EQ(used.process(), fresh.process()) << n;
    }

    // Rebuilding for another count gives exactly a new bank of that count,
    // with fresh phases and drift state.
    OscillatorBank rebuilt(4, sr);
    rebuilt.set_drift(0.8f);
    for (int n = 0; n < 5000; ++n) {
        rebuilt.process();
    }
    rebuilt.rebuild(9);
    OscillatorBank nine(9, sr);
    EXPECT_EQ(rebuilt.size(), 9u);
    EXPECT_EQ(rebuilt.drift, 0.0f);
    EXPECT_EQ(rebuilt.drift_counter, 0u);
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(rebuilt.drift_phases[i], nine.drift_phases[i]);
    }
    for (int n = 0; n < 2048; ++n) {
        ASSERT_EQ(rebuilt.process(), nine.process()) << n;
    }
}
