#include "plugin/dsp/carrier.hpp"

#include <algorithm>

#include "dsp_kit/primitives/fast_exp2.hpp"
#include "dsp_kit/primitives/sine.hpp"

namespace tessellgrove {

namespace {

// Clock of the Stoch generator for a density in 0..1: 0.5 Hz .. 50 Hz.
float stoch_clock_hz(float density) noexcept
{
    return std::max(49.5f * density + 0.5f, 0.001f);
}

} // namespace

Carrier::Carrier(float sr)
    : bank(4, sr),
      morph_lfo(sr, 0.001f, dsp_kit::LfoShape::Sine),
      formant_oscillator(sr, 440.0f),
      stoch_oscillator(sr, 440.0f),
      sample_hold(sr),
      formant_filter(sr),
      sample_rate(sr)
{
    formant_filter.set_resonance(0.2f);
}

void Carrier::set_frequency(float f) noexcept
{
    frequency = f;
    formant_oscillator.set_frequency(f);
    stoch_oscillator.set_frequency(f);
    bank.set_frequency(f);
}

void Carrier::retune_idle_generators(float f) noexcept
{
    frequency = f;
    switch (mode) {
    case static_cast<uint8_t>(CarrierMode::Swarm):
        formant_oscillator.set_frequency(f);
        stoch_oscillator.set_frequency(f);
        break;
    case static_cast<uint8_t>(CarrierMode::Stoch):
        formant_oscillator.set_frequency(f);
        bank.set_frequency(f);
        break;
    default:
        stoch_oscillator.set_frequency(f);
        bank.set_frequency(f);
        break;
    }
}

void Carrier::copy_frequency_from(const Carrier& leader) noexcept
{
    frequency = leader.frequency;
    formant_oscillator.frequency = leader.formant_oscillator.frequency;
    formant_oscillator.phase_increment = leader.formant_oscillator.phase_increment;
    stoch_oscillator.frequency = leader.stoch_oscillator.frequency;
    stoch_oscillator.phase_increment = leader.stoch_oscillator.phase_increment;
    bank.copy_tuning_from(leader.bank);
}

void Carrier::copy_formant_position_from(const Carrier& leader) noexcept
{
    formant_position = leader.formant_position;
    // Settings and coefficients only; this filter's memory stays its own.
    const float z[3][2] = {
        {formant_filter.sections[0].z1, formant_filter.sections[0].z2},
        {formant_filter.sections[1].z1, formant_filter.sections[1].z2},
        {formant_filter.sections[2].z1, formant_filter.sections[2].z2},
    };
    formant_filter = leader.formant_filter;
    for (std::size_t j = 0; j < 3; ++j) {
        formant_filter.sections[j].z1 = z[j][0];
        formant_filter.sections[j].z2 = z[j][1];
    }
}

void Carrier::copy_swarm_from(const Carrier& leader) noexcept
{
    swarm_drift = leader.swarm_drift;
    swarm_spread = leader.swarm_spread;
    bank.copy_tuning_from(leader.bank);
}

void Carrier::set_sample_rate(float sr) noexcept
{
    sample_rate = sr;
    formant_oscillator.set_sample_rate(sr);
    formant_filter.set_sample_rate(sr);
    morph_lfo.set_sample_rate(sr);
    stoch_oscillator.set_sample_rate(sr);
    sample_hold.set_sample_rate(sr);
    bank.set_sample_rate(sr);
}

void Carrier::reset() noexcept
{
    formant_oscillator.phase = 0.0f;
    morph_lfo.phase = 0.0f;
    stoch_oscillator.phase = 0.0f;
    sample_hold.phase = 0.0f;
    formant_filter.reset();
    sample_hold.reset();
    bank.reset();
}

void Carrier::set_formant_position(float p) noexcept
{
    formant_position = p;
    // Exactly at the threshold the sweep does not run either, so the
    // position has to reach the filter here or it would never arrive.
    if (formant_morph_rate <= morph_threshold) {
        formant_filter.set_position(p);
    }
}

void Carrier::set_stoch_density(float d) noexcept
{
    stoch_density = d;
    sample_hold.set_rate(stoch_clock_hz(d));
}

float Carrier::next() noexcept
{
    switch (mode) {
    case static_cast<uint8_t>(CarrierMode::Swarm):
        return process_swarm();
    case static_cast<uint8_t>(CarrierMode::Stoch):
        return process_stoch();
    default:
        return process_formant() * formant_scale;
    }
}

float Carrier::process_formant() noexcept
{
    if (formant_morph_rate > morph_threshold) {
        const float b = morph_lfo.next();
        formant_filter.set_position(std::clamp(formant_position + 0.25f * b, 0.0f, 1.0f));
    }
    return formant_filter.process(formant_oscillator.next());
}

float Carrier::process_stoch() noexcept
{
    const float smoothed = sample_hold.process();
    const float x = smoothed * stoch_spread * 2.0f;
    const float f = std::clamp(frequency * dsp_kit::fast_exp2(x), 40.0f, 5000.0f);
    stoch_oscillator.set_frequency(f);
    return dsp_kit::sin1(dsp_kit::two_pi * stoch_oscillator.advance());
}

float Carrier::process_swarm() noexcept
{
    return bank.process() * swarm_scale;
}

} // namespace tessellgrove
