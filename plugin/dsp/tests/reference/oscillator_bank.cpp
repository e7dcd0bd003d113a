// Reference copy of the straightforward scalar engine (two carriers each
// advanced on its own, one sinf per voice, voice law recomputed in full),
// kept only for tests to compare the production engine against. Do not
// optimise it: its value is that it is the plain arithmetic.
#include "plugin/dsp/tests/reference/oscillator_bank.hpp"

#include <cmath>

#include "dsp_kit/primitives/fast_exp2.hpp"

namespace tessellgrove::reference {

using dsp_kit::clamp;
using dsp_kit::fast_exp2;
using dsp_kit::non_negative;
using dsp_kit::two_pi;

namespace {

// Golden-ratio start phase of voice i: frac(i · 0.618034).
float golden_phase(std::size_t i) noexcept
{
    const float v = static_cast<float>(i) * 0.618034f;
    return v - std::floor(v);
}

} // namespace

OscillatorBank::OscillatorBank(std::size_t count, float sample_rate_hz) noexcept
    : voice_count(clamp_voice_count(count))
    , sample_rate(sample_rate_hz)
{
    for (std::size_t i = 0; i < voice_count; ++i) {
        oscillators[i] = Oscillator(sample_rate_hz, 440.0f, golden_phase(i));
        drift_phases[i] = 0.1f * static_cast<float>(i);
        drift_rates[i] = 0.1f + 0.03f * static_cast<float>(i);
    }
    apply_voice_law();
}

float OscillatorBank::voice_position(std::size_t i) const noexcept
{
    return 2.0f * static_cast<float>(i) / static_cast<float>(voice_count - 1) - 1.0f;
}

void OscillatorBank::apply_voice_law() noexcept
{
    for (std::size_t i = 0; i < voice_count; ++i) {
        oscillators[i].set_frequency(frequency * fast_exp2(voice_position(i) * spread));
    }
}

void OscillatorBank::set_frequency(float f) noexcept
{
    frequency = non_negative(f);
    apply_voice_law();
}

void OscillatorBank::set_spread(float x) noexcept
{
    spread = clamp(x, 0.0f, 1.0f);
    apply_voice_law();
}

void OscillatorBank::set_drift(float x) noexcept
{
    drift = clamp(x, 0.0f, 1.0f);
}

void OscillatorBank::set_sample_rate(float sr) noexcept
{
    sample_rate = sr;
    for (std::size_t i = 0; i < voice_count; ++i) {
        oscillators[i].set_sample_rate(sr);
    }
    apply_voice_law();
}

void OscillatorBank::reset() noexcept
{
    for (std::size_t i = 0; i < voice_count; ++i) {
        oscillators[i].phase = golden_phase(i);
    }
}

void OscillatorBank::apply_drift() noexcept
{
    const float depth = drift * frequency * 0.01f;
    const float step = 32.0f / sample_rate;
    for (std::size_t i = 0; i < voice_count; ++i) {
        float p = drift_phases[i] + drift_rates[i] * step;
        if (p >= 1.0f) {
            p -= 1.0f;
        }
        drift_phases[i] = p;
        const float m = std::sin(two_pi * p);
        oscillators[i].set_frequency(frequency * fast_exp2(voice_position(i) * spread) + m * depth);
    }
}

} // namespace tessellgrove::reference
