// Saturator, Wavefolder and RingModulator: curves at chosen points, bounds,
// pass-through below the drive threshold, and setter clamps.

#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "dsp_kit/modulation/ring_modulator.hpp"
#include "dsp_kit/saturation/saturator.hpp"
#include "dsp_kit/saturation/wavefolder.hpp"

using dsp_kit::RingModulator;
using dsp_kit::Saturator;
using dsp_kit::SaturatorCurve;
using dsp_kit::Wavefolder;

TEST(Saturator, CurvesAtChosenPoints)
{
    struct Case { SaturatorCurve curve; float drive; float mix; float x; float expected; };
    // Expected values worked out from the curve at g = (4·drive + 1)·x, then
    // (y·drive + (1 − drive)·x)·mix + (1 − mix)·x.
    const Case cases[] = {
        // Asymmetric, drive 0.25 (g = 2x): both halves reach ±1 at |g| = 1.
        {SaturatorCurve::AsymmetricTanh, 0.25f, 1.0f, 0.5f, 1.0f * 0.25f + 0.75f * 0.5f},
        {SaturatorCurve::AsymmetricTanh, 0.25f, 1.0f, -0.5f, -1.0f * 0.25f - 0.75f * 0.5f},
        // Hard clip, drive 0.5 (g = 3x).
        {SaturatorCurve::HardClip, 0.5f, 1.0f, 1.0f, 1.0f},
        {SaturatorCurve::HardClip, 0.5f, 1.0f, -1.0f, -1.0f},
        {SaturatorCurve::HardClip, 0.5f, 1.0f, 0.2f, 0.6f * 0.5f + 0.5f * 0.2f},
        // Hard clip at full drive with half mix (g = 5x clips at 1).
        {SaturatorCurve::HardClip, 1.0f, 0.5f, 0.5f, 1.0f * 0.5f + 0.5f * 0.5f},
        // tanh, full drive: tanh(0.5).
        {SaturatorCurve::Tanh, 1.0f, 1.0f, 0.1f, 0.46211716f},
        // Boosted tanh, full drive: g = 1 -> tanh(1.2).
        {SaturatorCurve::BoostedTanh, 1.0f, 1.0f, 0.2f, 0.83365461f},
        {SaturatorCurve::BoostedTanh, 1.0f, 1.0f, -0.2f, -0.83365461f},
        // Mix 0 returns the input whatever the drive.
        {SaturatorCurve::Tanh, 1.0f, 0.0f, 0.7f, 0.7f},
    };
    for (const Case& c : cases) {
        const Saturator sat(c.curve, c.drive, c.mix);
        EXPECT_NEAR(sat.process(c.x), c.expected, 2e-6f)
            << "curve " << static_cast<int>(c.curve) << " drive " << c.drive << " mix " << c.mix << " x " << c.x;
    }
}

TEST(Saturator, AsymmetricNormalisersAreTheFloatTanhValues)
{
    EXPECT_FLOAT_EQ(Saturator::tanh_1_5, std::tanh(1.5f));
    EXPECT_FLOAT_EQ(Saturator::tanh_2, std::tanh(2.0f));
}

TEST(Saturator, BelowTheDriveThresholdTheInputPassesExactly)
{
    for (std::uint8_t curve = 0; curve < 4; ++curve) {
        for (float mix : {0.0f, 0.5f, 1.0f}) {
            Saturator sat;
            sat.set_curve(curve);
            sat.set_mix(mix);
            sat.set_drive(0.0005f);
            for (float x : {-3.0f, -0.3f, 0.0f, 0.123f, 2.5f}) {
                EXPECT_EQ(sat.process(x), x);
            }
        }
    }
}

TEST(Saturator, FullWetOutputIsBoundedAndKeepsTheSign)
{
    // The asymmetric curve is normalised to reach ±1 at |g| = 1, so beyond
    // that it rises to 1/tanh(1.5) (positive) and 1/tanh(2) (negative).
    const float bounds[] = {1.0f, 1.0f, 1.0f / Saturator::tanh_1_5, 1.0f};
    for (std::uint8_t curve = 0; curve < 4; ++curve) {
        Saturator sat;
        sat.set_curve(curve);
        sat.set_drive(1.0f);
        for (int i = -1000; i <= 1000; ++i) {
            const float x = static_cast<float>(i) * 0.01f;
            const float y = sat.process(x);
            // With drive 1 the output is the curve itself.
            ASSERT_LE(std::fabs(y), bounds[curve] + 1e-6f) << "curve " << int{curve} << " x " << x;
            ASSERT_EQ(std::signbit(y), std::signbit(x)) << "curve " << int{curve} << " x " << x;
        }
    }
}

TEST(Saturator, SettersClamp)
{
    Saturator sat;
    sat.set_drive(1.5f);
    EXPECT_EQ(sat.drive, 1.0f);
    sat.set_drive(-1.0f);
    EXPECT_EQ(sat.drive, 0.0f);
    sat.set_mix(2.0f);
    EXPECT_EQ(sat.mix, 1.0f);
    sat.set_curve(std::uint8_t{3});
    EXPECT_EQ(sat.curve, 3);
    sat.set_curve(std::uint8_t{8});
    EXPECT_EQ(sat.curve, 0);
}

TEST(Wavefolder, FoldsAtChosenPoints)
{
    struct Case { float drive; std::uint32_t stages; float mix; float x; float expected; };
    const Case cases[] = {
        // Drive 0.5: gain 3, one stage.
        {0.5f, 1, 1.0f, 1.0f / 3.0f, -1.0f},
        {0.5f, 1, 1.0f, 2.0f / 3.0f, 0.0f},
        {0.5f, 1, 1.0f, 1.0f, 1.0f},
        // Small signals: odd stage counts invert, even counts restore.
        {0.5f, 1, 1.0f, 0.1f, -0.3f},
        {0.5f, 2, 1.0f, 0.1f, 0.3f},
        {0.5f, 3, 1.0f, 0.1f, -0.3f},
        {0.5f, 4, 1.0f, 0.1f, 0.3f},
        // Half mix.
        {0.5f, 1, 0.5f, 1.0f, 0.5f * 1.0f + 0.5f * 1.0f},
        {0.5f, 1, 0.5f, 1.0f / 3.0f, 0.5f / 3.0f - 0.5f},
    };
    for (const Case& c : cases) {
        const Wavefolder folder(c.drive, c.stages, c.mix);
        EXPECT_NEAR(folder.process(c.x), c.expected, 1e-6f)
            << "stages " << c.stages << " mix " << c.mix << " x " << c.x;
    }
}

TEST(Wavefolder, StagesAndSettingsClamp)
{
    struct Case { std::uint32_t requested; std::uint32_t stages; };
    const Case cases[] = {{0, 1}, {1, 1}, {3, 3}, {4, 4}, {9, 4}, {0xFFFFFFFFu, 4}};
    Wavefolder folder;
    for (const Case& c : cases) {
        folder.set_stages(c.requested);
        EXPECT_EQ(folder.stages, c.stages) << c.requested;
    }
    folder.set_drive(7.0f);
    EXPECT_EQ(folder.drive, 1.0f);
    folder.set_mix(-7.0f);
    EXPECT_EQ(folder.mix, 0.0f);
}

TEST(Wavefolder, WetOutputStaysOnTheTriangleAndSmallDrivePasses)
{
    for (std::uint32_t stages = 1; stages <= 4; ++stages) {
        const Wavefolder folder(1.0f, stages, 1.0f);
        for (int i = -2000; i <= 2000; ++i) {
            const float y = folder.process(static_cast<float>(i) * 0.01f);
            ASSERT_GE(y, -1.0f);
            ASSERT_LE(y, 1.0f);
        }
    }
    const Wavefolder quiet(0.0009f, 3, 1.0f);
    EXPECT_EQ(quiet.process(0.8f), 0.8f);
}

TEST(RingModulator, MixBlendsProductAndInput)
{
    struct Case { float mix; float x; float carrier; float expected; };
    const Case cases[] = {
        {1.0f, 0.5f, -0.8f, -0.4f}, {0.0f, 0.5f, -0.8f, 0.5f}, {0.25f, 0.4f, 0.5f, 0.05f + 0.3f},
        {3.0f, 0.5f, 0.5f, 0.25f},   // mix clamps to 1
        {-1.0f, 0.5f, 0.5f, 0.5f},   // mix clamps to 0
    };
    for (const Case& c : cases) {
        const RingModulator ring(c.mix);
        EXPECT_FLOAT_EQ(ring.process(c.x, c.carrier), c.expected) << "mix " << c.mix;
    }
}
