// CombFilter and DelayLine: pass-through, impulse alignment, feedback decay,
// clamps, buffer sizing, reset, and the paired run against single samples.

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "dsp_kit/delay/delay_line.hpp"
#include "dsp_kit/filter/comb_filter.hpp"
#include "signal_measure.hpp"

using dsp_kit::CombFilter;
using dsp_kit::DelayLine;

namespace {

std::vector<float> impulse_response(CombFilter& comb, std::size_t length)
{
    std::vector<float> out(length);
    for (std::size_t n = 0; n < length; ++n) {
        out[n] = comb.process(n == 0 ? 1.0f : 0.0f);
    }
    return out;
}

} // namespace

TEST(DelayLine, LengthCoversFiftyMilliseconds)
{
    struct Case { float sample_rate; std::size_t length; };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {44100.0f, 2206}, {48000.0f, 2401}, {96000.0f, 4801}, {10.0f, 1},
        // Nonsense rates give a usable line instead of undefined conversions
        // or absurd allocations.
        {0.0f, 1}, {-48000.0f, 1}, {nan, 1}, {inf, 76801}, {1.0e12f, 76801},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DelayLine::length_for(c.sample_rate), c.length) << c.sample_rate;
    }
    EXPECT_EQ(DelayLine(48000.0f).size(), 2401u);
}

TEST(CombFilter, NewFilterPassesItsInputUnchanged)
{
    CombFilter comb(44100.0f);
    for (float x : dsp_kit_test::noise(5000)) {
        ASSERT_EQ(comb.process(x), x);
    }
}

TEST(CombFilter, ImpulseArrivesAfterDelayPlusOneSamples)
{
    // Feedback 0, mix 1: the impulse is split between samples k + 1 and k + 2
    // of the delay k + φ, by 1 − φ and φ.
    const float sr = 44100.0f;
    for (double period : {100.0, 100.25, 8.82, 57.5}) {
        CombFilter comb(sr);
        comb.set_mix(1.0f);
        comb.set_frequency(static_cast<float>(sr / period));
        const std::vector<float> out = impulse_response(comb, 300);
        const auto k = static_cast<std::size_t>(period);
        const double fraction = period - static_cast<double>(k);
        EXPECT_NEAR(out[k + 1], 1.0 - fraction, 1e-3) << period;
        EXPECT_NEAR(out[k + 2], fraction, 1e-3) << period;
        double elsewhere = 0.0;
        for (std::size_t n = 0; n < out.size(); ++n) {
            if (n != k + 1 && n != k + 2) {
                elsewhere += std::fabs(out[n]);
            }
        }
        EXPECT_EQ(elsewhere, 0.0) << period;
    }
}

TEST(CombFilter, EchoesDecayByTheFeedbackPerLoop)
{
    // 441 Hz at 44100 Hz: delay 100, loop 101 samples. The loop low-pass has
    // unity gain at DC, so each echo's sum is the previous one times feedback.
    struct Case { float requested; float feedback; };
    const Case cases[] = {{0.3f, 0.3f}, {0.6f, 0.6f}, {1.0f, 0.95f}};
    for (const Case& c : cases) {
        CombFilter comb(44100.0f);
        comb.set_frequency(441.0f);
        comb.set_mix(1.0f);
        comb.set_feedback(c.requested);
        EXPECT_EQ(comb.feedback, c.feedback);
        const std::vector<float> out = impulse_response(comb, 101 * 6);
        double previous = 0.0;
        for (std::size_t echo = 1; echo < 5; ++echo) {
            double sum = 0.0;
            for (std::size_t n = 101 * echo; n < 101 * (echo + 1); ++n) {
                sum += out[n];
            }
            if (echo > 1) {
                EXPECT_NEAR(sum / previous, c.feedback, 1e-3) << "feedback " << c.feedback << " echo " << echo;
            }
            previous = sum;
        }
    }
}

TEST(CombFilter, SettersClamp)
{
    CombFilter comb(44100.0f);
    struct Case { float hz; float frequency; float delay; };
    const Case tunings[] = {
        {10.0f, 20.0f, 2205.0f}, {20.0f, 20.0f, 2205.0f}, {10000.0f, 5000.0f, 8.82f}, {441.0f, 441.0f, 100.0f},
    };
    for (const Case& c : tunings) {
        comb.set_frequency(c.hz);
        EXPECT_EQ(comb.frequency, c.frequency);
        EXPECT_NEAR(comb.delay, c.delay, 1e-3f) << c.hz;
    }
    EXPECT_EQ(comb.delay_line.size() - 1, 2205u);

    comb.set_feedback(1.0f);
    EXPECT_EQ(comb.feedback, 0.95f);
    comb.set_feedback(-1.0f);
    EXPECT_EQ(comb.feedback, 0.0f);
    comb.set_mix(2.0f);
    EXPECT_EQ(comb.mix, 1.0f);
    comb.set_mix(-0.5f);
    EXPECT_EQ(comb.mix, 0.0f);
    comb.set_mix(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(comb.mix, 0.0f);
}

TEST(CombFilter, BypassKeepsFillingTheDelayLine)
{
    CombFilter comb(44100.0f);
    comb.set_frequency(441.0f);
    std::vector<float> out;
    for (std::size_t n = 0; n < 200; ++n) {
        if (n == 50) {
            comb.set_mix(1.0f); // the impulse written while bypassed is still there
        }
        out.push_back(comb.process(n == 0 ? 1.0f : 0.0f));
    }
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[101], 1.0f);
}

TEST(CombFilter, SampleRateChangeReallocatesAndRetunes)
{
    CombFilter comb(44100.0f);
    comb.set_frequency(300.0f);
    comb.set_feedback(0.8f);
    comb.set_mix(1.0f);
    for (float x : dsp_kit_test::noise(3000)) {
        comb.process(x);
    }
    comb.set_sample_rate(96000.0f);
    EXPECT_EQ(comb.delay_line.size(), 4801u);
    EXPECT_EQ(comb.delay_line.write_index, 0u);
    for (float s : comb.delay_line.buffer) {
        ASSERT_EQ(s, 0.0f);
    }
    EXPECT_FLOAT_EQ(comb.delay, 320.0f);
    EXPECT_FLOAT_EQ(comb.period, 320.0f);
    EXPECT_EQ(comb.damping.cutoff, 8000.0f); // fixed at construction
    EXPECT_NEAR(comb.damping.coefficient, std::exp(-2.0 * dsp_kit_test::pi * 8000.0 / 96000.0), 1e-6);
}

TEST(CombFilter, TinySampleRateStillProcessesSafely)
{
    CombFilter comb(10.0f); // a one-sample line
    comb.set_frequency(440.0f);
    comb.set_mix(1.0f);
    comb.set_feedback(0.5f);
    EXPECT_EQ(comb.delay, 0.0f);
    for (float x : dsp_kit_test::noise(100)) {
        ASSERT_TRUE(std::isfinite(comb.process(x)));
    }
}

TEST(CombFilter, ResetMatchesAFreshFilter)
{
    auto configure = [](CombFilter& c) {
        c.set_frequency(333.0f);
        c.set_feedback(0.7f);
        c.set_mix(0.6f);
    };
    CombFilter fresh(48000.0f);
    configure(fresh);
    CombFilter used(48000.0f);
    configure(used);
    for (float x : dsp_kit_test::noise(7000)) {
        used.process(x);
    }
    used.reset();
    for (float x : dsp_kit_test::noise(7000, 5)) {
        ASSERT_EQ(used.process(x), fresh.process(x));
    }
}

TEST(CombFilter, MovingIsCheapAndCopyingDuplicatesTheBuffer)
{
    CombFilter original(44100.0f);
    original.set_mix(1.0f);
    original.set_frequency(441.0f);
    original.process(1.0f);
    CombFilter copy = original;
    EXPECT_NE(copy.delay_line.buffer.data(), original.delay_line.buffer.data());
    const float* storage = original.delay_line.buffer.data();
    CombFilter moved = std::move(original);
    EXPECT_EQ(moved.delay_line.buffer.data(), storage);
    for (int n = 1; n < 101; ++n) {
        moved.process(0.0f);
        copy.process(0.0f);
    }
    EXPECT_EQ(moved.process(0.0f), 1.0f);
    EXPECT_EQ(copy.process(0.0f), 1.0f);
}

TEST(CombFilter, PairedRunMatchesSampleBySampleProcessingBitForBit)
{
    // (feedback, tuning Hz, mix) for the left and right comb: both running,
    // one passing through, short and longest delays, fractional taps.
    struct Case {
        float feedback_a, hz_a, mix_a, feedback_b, hz_b, mix_b;
    };
    const Case cases[] = {
        {0.8f, 440.0f, 0.5f, 0.3f, 97.3f, 1.0f},
        {0.0f, 440.0f, 0.0f, 0.95f, 5000.0f, 0.7f},
        {0.95f, 20.0f, 1.0f, 0.0f, 20.0f, 0.0f},
        {0.5f, 1234.5f, 0.25f, 0.6f, 3333.3f, 0.9f},
    };
    for (const Case& c : cases) {
        CombFilter a(48000.0f), b(48000.0f);
        a.set_feedback(c.feedback_a);
        a.set_frequency(c.hz_a);
        a.set_mix(c.mix_a);
        b.set_feedback(c.feedback_b);
        b.set_frequency(c.hz_b);
        b.set_mix(c.mix_b);
        CombFilter a_ref = a, b_ref = b;
        std::uint32_t x = 0x9E3779B9u;
        // Runs of several lengths, so the write position wraps inside runs.
        for (const std::size_t run : {1u, 7u, 32u, 500u, 2401u, 3u, 4000u}) {
            std::vector<float> in_a(run), in_b(run);
            for (std::size_t i = 0; i < run; ++i) {
                x ^= x << 13u;
                x ^= x >> 17u;
                x ^= x << 5u;
                in_a[i] = static_cast<float>(x) * 0x1p-32f - 0.5f;
                in_b[i] = -0.7f * in_a[i];
            }
            std::vector<float> out_a = in_a, out_b = in_b;
            CombFilter::process_pair(a, out_a.data(), b, out_b.data(), run);
            for (std::size_t i = 0; i < run; ++i) {
                ASSERT_EQ(out_a[i], a_ref.process(in_a[i])) << "run " << run << " sample " << i;
                ASSERT_EQ(out_b[i], b_ref.process(in_b[i])) << "run " << run << " sample " << i;
            }
        }
        EXPECT_EQ(a.delay_line.write_index, a_ref.delay_line.write_index);
        EXPECT_EQ(a.damping.state, a_ref.damping.state);
        EXPECT_EQ(b.delay_line.buffer, b_ref.delay_line.buffer);
        EXPECT_EQ(b.damping.state, b_ref.damping.state);
    }
}
