// fast_exp2, soft_clip, Oscillator, Lfo, OnePole and EnvelopeFollower.

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "dsp_kit/primitives/envelope_follower.hpp"
#include "dsp_kit/primitives/fast_exp2.hpp"
#include "dsp_kit/primitives/lfo.hpp"
#include "dsp_kit/primitives/one_pole.hpp"
#include "dsp_kit/primitives/oscillator.hpp"
#include "dsp_kit/primitives/soft_clip.hpp"
#include "signal_measure.hpp"

using namespace dsp_kit;

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float p0 = 0.9998465f; // the cubic at f = 0

} // namespace

// --- fast_exp2 ---------------------------------------------------------------

TEST(FastExp2, TracksExp2WithinTheCubicsErrorOverAWideRange)
{
    double worst = 0.0;
    for (int i = -20000; i <= 20000; ++i) {
        const float x = static_cast<float>(i) * 0.0005f; // -10 .. 10
        const double exact = std::exp2(static_cast<double>(x));
        worst = std::max(worst, std::fabs(static_cast<double>(fast_exp2(x)) / exact - 1.0));
    }
    EXPECT_LT(worst, 2.0e-3);
}

TEST(FastExp2, KnownValues)
{
    struct Case { float x; float expected; float tolerance; };
    const Case cases[] = {
        {0.0f, 0.9998465f, 0.0f},
        {1.0f, 1.999693f, 1e-6f},
        {-1.0f, 0.49992325f, 1e-7f},
        {0.5f, 1.41503f, 1e-5f},
        {2.0f, 4.0f * p0, 0.0f},
        {-2.0f, 0.25f * p0, 0.0f},
        {-126.0f, std::ldexp(1.0f, -126) * p0, 0.0f}, // smallest normal power, still exact
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(fast_exp2(c.x), c.expected, c.tolerance) << "x = " << c.x;
    }
}

TEST(FastExp2, ExponentFieldSaturatesTheIntegerThenWraps)
{
    // Whole exponents: 2^n bits = (int32(n) << 23) + 0x3F800000 on 32 bits,
    // with int32(n) saturated. Expected values derived by hand from the bits.
    struct Case { float x; float expected; };
    const Case cases[] = {
        {128.0f, inf},                    // 0x7F800000
        {129.0f, -0.0f},                  // 0x80000000
        {-127.0f, 0.0f},                  // 0x00000000
        {2147483520.0f, -inf},            // largest float below 2^31: 0xFF800000
        {2147483648.0f, 0.5f * p0},       // saturates to INT32_MAX: 0x3F000000
        {3.0e9f, 0.5f * p0},              // saturates to INT32_MAX
        {-2147483648.0f, p0},             // INT32_MIN shifts out to 0x3F800000
        {-3.0e9f, p0},                    // saturates to INT32_MIN
        {-2147483520.0f, inf},            // 0x80000080 << 23 = 0x40000000
    };
    for (const Case& c : cases) {
        const float y = fast_exp2(c.x);
        EXPECT_EQ(y, c.expected) << "x = " << c.x;
        EXPECT_EQ(std::signbit(y), std::signbit(c.expected)) << "x = " << c.x;
    }
    EXPECT_TRUE(std::isnan(fast_exp2(std::numeric_limits<float>::quiet_NaN())));
}

// --- soft_clip -----------------------------------------------------------------

TEST(SoftClip, KnownPoints)
{
    struct Case { float x; float expected; };
    const Case cases[] = {
        {0.0f, 0.0f}, {1.0f, 28.0f / 36.0f}, {-1.0f, -28.0f / 36.0f},
        {3.0f, 1.0f}, {-3.0f, -1.0f}, {9.0f, 1.2857143f},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(soft_clip(c.x), c.expected) << "x = " << c.x;
    }
}

TEST(SoftClip, HugeInputsStayFiniteAndFollowTheAsymptote)
{
    // The cube overflows past about 7e12; the clipper must not turn that
    // into ±inf or NaN, which would stick in every state behind it.
    for (float x : {1e12f, 7e12f, 1e19f, 3e38f, -7e12f, -1e19f, -3e38f}) {
        const float y = soft_clip(x);
        EXPECT_TRUE(std::isfinite(y)) << "x = " << x;
        EXPECT_FLOAT_EQ(y, x / 9.0f) << "x = " << x;
    }
}

// --- Oscillator ----------------------------------------------------------------

TEST(Oscillator, ReturnsTheSineBeforeEachStep)
{
    Oscillator osc(4.0f, 1.0f); // quarter cycle per sample
    const float expected[] = {0.0f, 1.0f, 0.0f, -1.0f, 0.0f, 1.0f};
    for (float e : expected) {
        EXPECT_NEAR(osc.next(), e, 1e-6f);
    }
    EXPECT_GE(osc.phase, 0.0f);
    EXPECT_LT(osc.phase, 1.0f);
}

TEST(Oscillator, CountsTheRightNumberOfCyclesPerSecond)
{
    for (float hz : {50.0f, 440.0f, 5000.0f}) {
        Oscillator osc(48000.0f, hz);
        int rising = 0;
        float previous = osc.next();
        for (int n = 1; n < 48000; ++n) {
            const float v = osc.next();
            rising += previous < 0.0f && v >= 0.0f;
            previous = v;
        }
        EXPECT_NEAR(rising, hz, 1.0) << hz << " Hz";
    }
}

TEST(Oscillator, PhaseStaysInOneCycleEvenAboveTheSampleRate)
{
    for (float hz : {30000.0f, 44100.0f, 123456.0f}) {
        Oscillator osc(44100.0f, hz);
        Lfo lfo(44100.0f, hz, LfoShape::SampleAndHold);
        for (int n = 0; n < 1000; ++n) {
            osc.next();
            lfo.next();
            ASSERT_GE(osc.phase, 0.0f);
            ASSERT_LT(osc.phase, 1.0f) << hz;
            ASSERT_GE(lfo.phase, 0.0f);
            ASSERT_LT(lfo.phase, 1.0f) << hz;
        }
    }
}

TEST(Oscillator, SettersClampAndKeepEachOther)
{
    Oscillator osc(48000.0f, 440.0f);
    osc.set_frequency(-20.0f);
    EXPECT_EQ(osc.frequency, 0.0f);
    EXPECT_EQ(osc.phase_increment, 0.0f);
    osc.set_frequency(960.0f);
    osc.set_sample_rate(96000.0f);
    EXPECT_EQ(osc.frequency, 960.0f);
    EXPECT_FLOAT_EQ(osc.phase_increment, 0.01f);
}

// --- Lfo -----------------------------------------------------------------------

TEST(Lfo, ShapesAtKnownPhases)
{
    struct Case { LfoShape shape; float phase; float expected; };
    const Case cases[] = {
        {LfoShape::Sine, 0.0f, 0.0f},       {LfoShape::Sine, 0.25f, 1.0f},     {LfoShape::Sine, 0.75f, -1.0f},
        {LfoShape::Triangle, 0.0f, -1.0f},  {LfoShape::Triangle, 0.25f, 0.0f}, {LfoShape::Triangle, 0.5f, 1.0f},
        {LfoShape::Triangle, 0.75f, 0.0f},  {LfoShape::Saw, 0.0f, -1.0f},      {LfoShape::Saw, 0.75f, 0.5f},
        {LfoShape::Square, 0.0f, 1.0f},     {LfoShape::Square, 0.49f, 1.0f},   {LfoShape::Square, 0.5f, -1.0f},
    };
    for (const Case& c : cases) {
        Lfo lfo(44100.0f, 1.0f, c.shape);
        lfo.phase = c.phase;
        EXPECT_NEAR(lfo.next(), c.expected, 1e-6f)
            << "shape " << static_cast<int>(c.shape) << " phase " << c.phase;
    }
}

TEST(Lfo, TriangleAtFourSamplesPerCycle)
{
    Lfo lfo(4.0f, 1.0f, LfoShape::Triangle);
    const float expected[] = {-1.0f, 0.0f, 1.0f, 0.0f, -1.0f, 0.0f, 1.0f};
    for (float e : expected) {
        EXPECT_FLOAT_EQ(lfo.next(), e);
    }
}

TEST(Lfo, SampleAndHoldDrawsFromTheWrappedPhaseAndShowsItOneSampleLater)
{
    // 3 Hz at 4 Hz: phases 0, .75, .5 (wrap), .25 (wrap), 0 (wrap), .75, .5 (wrap).
    // Held values for q = 0.5 and 0.25 derived in single precision by hand;
    // q = 0 gives sin(0) = 0, so exactly -1.
    const float h05 = 0.88671875f;
    const float h025 = -0.328125f;
    Lfo lfo(4.0f, 3.0f, LfoShape::SampleAndHold);
    const float expected[] = {0.0f, 0.0f, h05, h025, -1.0f, -1.0f, h05};
    for (float e : expected) {
        EXPECT_NEAR(lfo.next(), e, 5e-3f);
    }
}

TEST(Lfo, SampleAndHoldDrawsOncePerWrapAndRepeatsAfterReset)
{
    Lfo lfo(1000.0f, 7.3f, LfoShape::SampleAndHold);
    auto run_once = [&lfo] {
        std::vector<float> values;
        float previous_phase = lfo.phase;
        float previous_held = lfo.held_value;
        for (int n = 0; n < 5000; ++n) {
            lfo.next();
            const bool wrapped = lfo.phase < previous_phase;
            if (wrapped) {
                values.push_back(lfo.held_value);
            } else {
                EXPECT_EQ(lfo.held_value, previous_held) << "changed without a wrap at " << n;
            }
            previous_phase = lfo.phase;
            previous_held = lfo.held_value;
        }
        return values;
    };
    const std::vector<float> first = run_once();
    ASSERT_GT(first.size(), 30u);
    for (float v : first) {
        EXPECT_GE(v, -1.0f);
        EXPECT_LT(v, 1.0f);
    }
    lfo.reset();
    EXPECT_EQ(run_once(), first);
}

TEST(Lfo, SettersClamp)
{
    Lfo lfo(48000.0f, 2.0f, LfoShape::Saw);
    lfo.set_shape(std::uint8_t{7});
    EXPECT_EQ(lfo.shape, 0);
    lfo.set_shape(std::uint8_t{4});
    EXPECT_EQ(lfo.shape, 4);
    lfo.set_rate(-3.0f);
    EXPECT_EQ(lfo.phase_increment, 0.0f);
    lfo.set_rate(6.0f);
    lfo.set_sample_rate(96000.0f);
    EXPECT_EQ(lfo.rate, 6.0f);
    EXPECT_FLOAT_EQ(lfo.phase_increment, 6.0f / 96000.0f);
}

// --- OnePole ---------------------------------------------------------------------

TEST(OnePole, CutoffIsFixedAtConstruction)
{
    struct Case { float built_at; float limit; float cutoff; float later_rate; };
    const Case cases[] = {
        {44100.0f, 2000.0f, 2000.0f, 96000.0f},
        {4000.0f, 2000.0f, 1960.0f, 44100.0f},
        {44100.0f, 8000.0f, 8000.0f, 8000.0f},
    };
    for (const Case& c : cases) {
        OnePole filter(c.built_at, c.limit, false);
        EXPECT_FLOAT_EQ(filter.cutoff, c.cutoff);
        filter.set_sample_rate(c.later_rate);
        EXPECT_FLOAT_EQ(filter.cutoff, c.cutoff);
        EXPECT_NEAR(filter.coefficient, std::exp(-2.0 * dsp_kit_test::pi * c.cutoff / c.later_rate), 1e-6);
    }
}

TEST(OnePole, MeasuredResponse)
{
    const float sr = 44100.0f;
    OnePole lowpass(sr, 300.0f, false);
    OnePole highpass(sr, 300.0f, true);
    // About -3 dB at the cutoff (for a cutoff far below Nyquist; the
    // high-pass part of this form lands slightly lower), unity at DC.
    EXPECT_NEAR(dsp_kit_test::steady_state_gain([&](float x) { return lowpass.process(x); }, 300.0, sr),
                std::sqrt(0.5), 0.02);
    EXPECT_NEAR(dsp_kit_test::steady_state_gain([&](float x) { return highpass.process(x); }, 300.0, sr),
                std::sqrt(0.5), 0.02);
    lowpass.reset();
    highpass.reset();
    float lp = 0.0f;
    float hp = 0.0f;
    for (int n = 0; n < 4000; ++n) {
        lp = lowpass.process(1.0f);
        hp = highpass.process(1.0f);
        EXPECT_FLOAT_EQ(lp + hp, 1.0f);
    }
    EXPECT_NEAR(lp, 1.0f, 1e-6f);
    EXPECT_NEAR(hp, 0.0f, 1e-6f);
}

// --- EnvelopeFollower ---------------------------------------------------------------

TEST(EnvelopeFollower, TimeConstantsFollowTheSampleRate)
{
    for (float sr : {44100.0f, 48000.0f, 96000.0f}) {
        EnvelopeFollower env(8000.0f, 10.0f, 100.0f);
        env.set_sample_rate(sr);
        const int attack_samples = static_cast<int>(std::lround(0.010 * sr));
        const int release_samples = static_cast<int>(std::lround(0.100 * sr));
        float level = 0.0f;
        for (int n = 0; n < attack_samples; ++n) {
            level = env.process(1.0f);
        }
        EXPECT_NEAR(level, 1.0 - std::exp(-1.0), 2e-3) << sr;
        env.level = 1.0f;
        for (int n = 0; n < release_samples; ++n) {
            level = env.process(0.0f);
        }
        EXPECT_NEAR(level, std::exp(-1.0), 2e-3) << sr;
    }
}

TEST(EnvelopeFollower, ZeroAttackJumpsAtOnce)
{
    EnvelopeFollower env(44100.0f, 0.0f, 100.0f);
    EXPECT_EQ(env.attack_coefficient, 0.0f);
    EXPECT_EQ(env.process(0.8f), 0.8f);
    EXPECT_LT(env.process(0.1f), 0.8f); // release still glides
    EXPECT_GT(env.level, 0.79f);
    env.reset();
    EXPECT_EQ(env.level, 0.0f);
    EXPECT_EQ(env.release_ms, 100.0f);
}
