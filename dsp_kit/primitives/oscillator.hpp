#pragma once
// Oscillator: a plain sine oscillator, phase in cycles.
//
// next() returns sin(2π·phase) and then advances the phase by
// phase_increment, subtracting 1 when it reaches 1 (the whole part only when
// the increment is a cycle or more). The owner resets
// the phase directly (`phase = 0`). No heap storage; audio thread.

#include <cmath>

#include "dsp_kit/primitives/math.hpp"

namespace dsp_kit {

class Oscillator {
public:
    // 440 Hz at 44100 Hz, phase 0.
    Oscillator() noexcept = default;
    // `frequency` in Hz (negative gives 0), `phase` in cycles 0..1.
    Oscillator(float sample_rate_hz, float frequency_hz, float start_phase = 0.0f) noexcept;

    // frequency = max(f, 0); phase_increment = frequency / sample_rate.
    void set_frequency(float f) noexcept;
    // sample_rate = sr; phase_increment = frequency / sr.
    void set_sample_rate(float sr) noexcept;
    // Phase back to 0; frequency and rate kept.
    void reset() noexcept { phase = 0.0f; }

    // Sine of the phase before this sample's step.
    float next() noexcept;
    // This sample's phase step alone; returns the phase before it (the one
    // whose sine `next` returns). Lets a bank step its voices and take their
    // sines several at a time.
    float advance() noexcept;

    float sample_rate = 44100.0f;                // Hz
    float frequency = 440.0f;                    // Hz, never negative
    float phase = 0.0f;                          // cycles, 0 <= phase < 1
    float phase_increment = 440.0f / 44100.0f;   // frequency / sample_rate
};

// ---------------------------------------------------------------------------

inline Oscillator::Oscillator(float sample_rate_hz, float frequency_hz, float start_phase) noexcept
    : sample_rate(sample_rate_hz)
    , frequency(non_negative(frequency_hz))
    , phase(start_phase)
    , phase_increment(frequency / sample_rate)
{
}

inline void Oscillator::set_frequency(float f) noexcept
{
    frequency = non_negative(f);
    phase_increment = frequency / sample_rate;
}

inline void Oscillator::set_sample_rate(float sr) noexcept
{
    sample_rate = sr;
    phase_increment = frequency / sr;
}

inline float Oscillator::next() noexcept
{
    return std::sin(two_pi * advance());
}

inline float Oscillator::advance() noexcept
{
    const float out = phase;
    phase = phase + phase_increment;
    if (phase >= 1.0f) {
        phase -= 1.0f;
        // Only at a cycle or more per sample (frequency above the sample
        // rate): keep the phase in 0..1 instead of letting it grow until it
        // loses all precision.
        if (phase >= 1.0f) {
            phase -= std::floor(phase);
        }
    }
    return out;
}

} // namespace dsp_kit
