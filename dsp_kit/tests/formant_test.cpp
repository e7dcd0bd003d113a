// Biquad coefficient rules and responses; FormantFilter vowel table,
// update thresholds and output mix.

#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "dsp_kit/formant/biquad.hpp"
#include "dsp_kit/formant/formant_filter.hpp"
#include "signal_measure.hpp"

using dsp_kit::Biquad;
using dsp_kit::BiquadResponse;
using dsp_kit::FormantFilter;
using dsp_kit_test::steady_state_gain;

namespace {

double gain_at(Biquad filter, double hz)
{
    filter.reset();
    return steady_state_gain([&](float x) { return filter.process(x); }, hz, filter.sample_rate);
}

} // namespace

// --- Biquad ----------------------------------------------------------------------

TEST(Biquad, MeasuredResponses)
{
    struct Case { BiquadResponse response; double probe_hz; double expected_gain; double tolerance; };
    // Section at 1000 Hz, q 2, 48000 Hz.
    const Case cases[] = {
        {BiquadResponse::BandPass, 1000.0, 1.0, 0.01},    // 0 dB at the centre
        {BiquadResponse::BandPass, 4000.0, 0.0, 0.15},    // well down two octaves away
        {BiquadResponse::LowPass, 20.0, 1.0, 0.01},
        {BiquadResponse::LowPass, 12000.0, 0.0, 0.02},
        {BiquadResponse::HighPass, 12000.0, 1.0, 0.01},
        {BiquadResponse::HighPass, 20.0, 0.0, 0.01},
        {BiquadResponse::Notch, 1000.0, 0.0, 0.01},
        {BiquadResponse::Notch, 100.0, 1.0, 0.01},
    };
    for (const Case& c : cases) {
        const Biquad filter(48000.0f, 1000.0f, 2.0f, c.response);
        EXPECT_NEAR(gain_at(filter, c.probe_hz), c.expected_gain, c.tolerance)
            << "response " << static_cast<int>(c.response) << " at " << c.probe_hz << " Hz";
    }
}

TEST(Biquad, BandPassPeaksAtItsCentreAndNarrowsWithQ)
{
    for (float centre : {280.0f, 800.0f, 2900.0f}) {
        const Biquad narrow(44100.0f, centre, 20.0f, BiquadResponse::BandPass);
        const Biquad wide(44100.0f, centre, 5.0f, BiquadResponse::BandPass);
        const double at_centre = gain_at(narrow, centre);
        EXPECT_NEAR(at_centre, 1.0, 0.01) << centre;
        EXPECT_LT(gain_at(narrow, centre * 1.1), at_centre);
        EXPECT_LT(gain_at(narrow, centre / 1.1), at_centre);
        EXPECT_LT(gain_at(narrow, centre * 1.2), gain_at(wide, centre * 1.2)) << centre;
    }
}

TEST(Biquad, TuningIsLimitedAndUnknownResponsePassesThrough)
{
    Biquad filter(4000.0f, 3000.0f, 0.0f, BiquadResponse::BandPass);
    EXPECT_FLOAT_EQ(filter.frequency, 1960.0f);
    EXPECT_FLOAT_EQ(filter.q, 0.1f);
    filter.gain = 3.0f;
    filter.set_tuning(-10.0f, 4.0f);
    EXPECT_EQ(filter.frequency, 0.0f);
    EXPECT_EQ(filter.gain, 0.0f);

    filter.set_response(std::uint8_t{9});
    EXPECT_EQ(filter.b0, 1.0f);
    EXPECT_EQ(filter.b1, 0.0f);
    EXPECT_EQ(filter.b2, 0.0f);
    EXPECT_EQ(filter.a1, 0.0f);
    EXPECT_EQ(filter.a2, 0.0f);
    EXPECT_EQ(filter.process(0.37f), 0.37f);
}

TEST(Biquad, ResetMatchesAFreshSection)
{
    const Biquad fresh(44100.0f, 600.0f, 8.0f, BiquadResponse::BandPass);
    Biquad used = fresh;
    for (float x : dsp_kit_test::noise(3000)) {
        used.process(x);
    }
    used.reset();
    Biquad reference = fresh;
    for (float x : dsp_kit_test::noise(3000, 7)) {
        ASSERT_EQ(used.process(x), reference.process(x));
    }
}

// --- FormantFilter ---------------------------------------------------------------

TEST(FormantFilter, VowelTableInterpolation)
{
    struct Case { float position; float f1, f2, f3; };
    const Case cases[] = {
        {0.5f, 280.0f, 2250.0f, 2900.0f},   {0.125f, 600.0f, 1600.0f, 2525.0f},
        {1.0f, 325.0f, 700.0f, 2530.0f},    {0.25f, 400.0f, 2000.0f, 2550.0f},
        {0.875f, 387.5f, 750.0f, 2680.0f},  {0.0f, 800.0f, 1200.0f, 2500.0f},
        {-3.0f, 800.0f, 1200.0f, 2500.0f},  {7.0f, 325.0f, 700.0f, 2530.0f},
    };
    for (const Case& c : cases) {
        FormantFilter filter(44100.0f);
        filter.set_position(0.6f); // move away first so every case recomputes
        filter.set_position(c.position);
        const float expected[] = {c.f1, c.f2, c.f3};
        for (std::size_t j = 0; j < 3; ++j) {
            EXPECT_NEAR(filter.formants[j], expected[j], 1e-2f) << "position " << c.position << " F" << j + 1;
            EXPECT_NEAR(filter.sections[j].frequency, expected[j], 1e-2f);
        }
    }
}

TEST(FormantFilter, SectionsAreLimitedBelowNyquist)
{
    FormantFilter built_low(4000.0f);
    EXPECT_FLOAT_EQ(built_low.sections[2].frequency, 1960.0f);
    EXPECT_FLOAT_EQ(built_low.sections[1].frequency, 1200.0f);

    FormantFilter moved(44100.0f);
    moved.set_sample_rate(4000.0f);
    EXPECT_FLOAT_EQ(moved.sections[2].frequency, 1960.0f);
    EXPECT_EQ(moved.sections[2].sample_rate, 4000.0f);
    EXPECT_FLOAT_EQ(moved.formants[2], 2500.0f);
}

TEST(FormantFilter, CoefficientsFollowOnlyMovesAboveOneThousandth)
{
    FormantFilter filter(44100.0f);
    filter.set_position(0.5f);
    const float b0 = filter.sections[0].b0;
    filter.set_position(0.5004f);
    EXPECT_EQ(filter.position, 0.5004f);
    EXPECT_EQ(filter.last_position, 0.5f);
    EXPECT_EQ(filter.sections[0].b0, b0);
    filter.set_position(0.5011f);
    EXPECT_EQ(filter.last_position, 0.5011f);
    EXPECT_NE(filter.sections[0].b0, b0);

    // A resonance step below the threshold changes nothing either, and a
    // larger one recomputes at the stored position.
    const float q = filter.sections[1].q;
    filter.set_resonance(0.5009f);
    EXPECT_EQ(filter.sections[1].q, q);
    filter.set_position(0.5005f); // within 0.001 of 0.5011: stored only
    EXPECT_EQ(filter.last_position, 0.5011f);
    filter.set_resonance(0.2f);
    EXPECT_NEAR(filter.formants[0], 280.0f + 0.002f * 170.0f, 1e-2f); // row 2 towards row 3
}

TEST(FormantFilter, RetuningKeepsTheBandsRinging)
{
    // Coefficient updates leave the section states alone, so a moving vowel
    // does not click to silence.
    FormantFilter filter(44100.0f);
    filter.process(1.0f);
    for (int n = 0; n < 10; ++n) {
        filter.process(0.0f);
    }
    filter.set_position(0.5f);
    filter.set_resonance(0.9f);
    EXPECT_NE(filter.process(0.0f), 0.0f);
    EXPECT_NE(filter.sections[2].z1, 0.0f);
}

TEST(FormantFilter, ResonanceScalesTheSectionQs)
{
    struct Case { float resonance; float q1, q2, q3; };
    const Case cases[] = {
        {0.2f, 8.0f, 9.6f, 12.0f}, {0.0f, 5.0f, 6.0f, 7.5f}, {1.0f, 20.0f, 24.0f, 30.0f},
        {-4.0f, 5.0f, 6.0f, 7.5f}, {4.0f, 20.0f, 24.0f, 30.0f},
    };
    for (const Case& c : cases) {
        FormantFilter filter(44100.0f);
        filter.set_resonance(c.resonance);
        EXPECT_FLOAT_EQ(filter.sections[0].q, c.q1) << c.resonance;
        EXPECT_FLOAT_EQ(filter.sections[1].q, c.q2) << c.resonance;
        EXPECT_FLOAT_EQ(filter.sections[2].q, c.q3) << c.resonance;
    }
}

TEST(FormantFilter, MixBlendsTheBandsWithTheInput)
{
    // A constant input: the band-pass sections block it, so only the dry
    // share remains once they settle.
    struct Case { float mix; float settled; };
    const Case cases[] = {{1.0f, 0.0f}, {0.5f, 0.5f}, {0.25f, 0.75f}};
    for (const Case& c : cases) {
        FormantFilter filter(44100.0f);
        filter.set_mix(c.mix);
        float y = 0.0f;
        for (int n = 0; n < 44100; ++n) {
            y = filter.process(1.0f);
        }
        EXPECT_NEAR(y, c.settled, 1e-4f) << "mix " << c.mix;
    }
    FormantFilter bypassed(44100.0f);
    bypassed.set_mix(0.0005f); // below 0.001: exact pass-through
    for (float x : dsp_kit_test::noise(256)) {
        ASSERT_EQ(bypassed.process(x), x);
    }
}

TEST(FormantFilter, SineOnTheFirstFormantComesOutAtAboutHalfItsAmplitude)
{
    // Section 1 has unity gain at F1, weighted by 1 and halved; the other
    // two sections add a little from their skirts.
    FormantFilter filter(44100.0f);
    filter.set_resonance(1.0f); // narrow bands keep the skirts small
    const double gain = steady_state_gain([&](float x) { return filter.process(x); }, 800.0, 44100.0);
    EXPECT_GT(gain, 0.49);
    EXPECT_LT(gain, 0.56);
}

TEST(FormantFilter, ResetMatchesAFreshFilter)
{
    auto configure = [](FormantFilter& f) {
        f.set_resonance(0.2f);
        f.set_position(0.37f);
    };
    FormantFilter fresh(48000.0f);
    configure(fresh);
    FormantFilter used(48000.0f);
    configure(used);
    for (float x : dsp_kit_test::noise(5000)) {
        used.process(x);
    }
    used.reset();
    for (float x : dsp_kit_test::noise(5000, 3)) {
        ASSERT_EQ(used.process(x), fresh.process(x));
    }
}
