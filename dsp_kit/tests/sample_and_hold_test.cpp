// SampleAndHold: seeded xorshift sequence, clock, glide and reset.

#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "dsp_kit/oscillator/sample_and_hold.hpp"

using dsp_kit::SampleAndHold;

TEST(SampleAndHold, SeededSequence)
{
    // Xorshift32 from seed 12345, worked out by hand: states and the values
    // float(state)·2⁻³²·2 − 1 they map to.
    struct Step { std::uint32_t state; float value; };
    const Step steps[] = {
        {0xC6E5747Au, 0.5538774f},
        {0x652A09AFu, -0.20965463f},
        {0xA7E08FA0u, 0.3115406f},
        {0x748E41EAu, -0.08940864f},
    };
    SampleAndHold sh(44100.0f);
    EXPECT_EQ(sh.rng_state, steps[0].state);
    EXPECT_FLOAT_EQ(sh.held, steps[0].value);
    EXPECT_FLOAT_EQ(sh.smoothed, steps[0].value);
    for (std::size_t i = 1; i < std::size(steps); ++i) {
        EXPECT_FLOAT_EQ(sh.draw(), steps[i].value);
        EXPECT_EQ(sh.rng_state, steps[i].state);
    }
}

TEST(SampleAndHold, DrawsStayInRangeAndAverageNearZero)
{
    SampleAndHold sh(44100.0f);
    double sum = 0.0;
    const int draws = 20000;
    for (int i = 0; i < draws; ++i) {
        const float v = sh.draw();
        ASSERT_NE(sh.rng_state, 0u);
        ASSERT_GE(v, -1.0f);
        ASSERT_LE(v, 1.0f);
        sum += v;
    }
    EXPECT_NEAR(sum / draws, 0.0, 0.03);
}

TEST(SampleAndHold, JumpsExactlyAtEachClockWrapWithoutSmoothing)
{
    SampleAndHold sh(80.0f, 10.0f); // increment 1/8: a wrap every 8th sample
    float previous = sh.process();
    EXPECT_EQ(previous, sh.held);
    int changes = 0;
    for (int n = 2; n <= 64; ++n) {
        const float v = sh.process();
        const bool wrap_sample = n % 8 == 0;
        EXPECT_EQ(v != previous, wrap_sample) << "sample " << n;
        changes += v != previous;
        previous = v;
    }
    EXPECT_EQ(changes, 8);
}

TEST(SampleAndHold, SmoothingGlidesGeometricallyTowardsTheHeldValue)
{
    for (float smoothing : {0.25f, 0.5f, 1.0f}) {
        SampleAndHold sh(80.0f, 10.0f, smoothing);
        for (int n = 0; n < 8; ++n) {
            sh.process(); // to the first wrap
        }
        const float k = 0.999f * smoothing;
        float gap = sh.smoothed - sh.held;
        ASSERT_NE(gap, 0.0f);
        for (int n = 0; n < 6; ++n) {
            sh.process();
            const float next_gap = sh.smoothed - sh.held;
            EXPECT_NEAR(next_gap, k * gap, 1e-6f) << "smoothing " << smoothing;
            gap = next_gap;
        }
    }
}

TEST(SampleAndHold, SettersClampAndKeepTheRate)
{
    SampleAndHold sh(44100.0f);
    sh.set_smoothing(-0.5f);
    EXPECT_EQ(sh.smoothing, 0.0f);
    sh.set_smoothing(3.0f);
    EXPECT_EQ(sh.smoothing, 1.0f);
    sh.set_rate(50.0f);
    sh.set_sample_rate(100000.0f);
    EXPECT_EQ(sh.rate, 50.0f);
    EXPECT_FLOAT_EQ(sh.phase_increment, 0.0005f);
    sh.set_rate(-1.0f);
    EXPECT_EQ(sh.phase_increment, 0.0f);
}

TEST(SampleAndHold, ResetRestartsTheClockAndDrawsTheNextValueOfTheSequence)
{
    SampleAndHold a(1000.0f, 37.0f, 0.5f);
    SampleAndHold b(1000.0f, 37.0f, 0.5f);
    for (int n = 0; n < 300; ++n) {
        a.process();
    }
    SampleAndHold expected_draw = a;
    const float next_value = expected_draw.draw();
    a.reset();
    EXPECT_EQ(a.phase, 0.0f);
    EXPECT_EQ(a.held, next_value);
    EXPECT_EQ(a.smoothed, next_value);
    EXPECT_EQ(a.smoothing, 0.5f);
    EXPECT_EQ(a.rate, 37.0f);

    // Two instances with equal settings, reset at the same point of their
    // sequences, produce identical output.
    for (int n = 0; n < 300; ++n) {
        b.process();
    }
    b.reset();
    for (int n = 0; n < 1000; ++n) {
        ASSERT_EQ(a.process(), b.process()) << n;
    }
}
