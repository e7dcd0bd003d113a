#pragma once
// Lfo: low-frequency modulator with five shapes, values in [-1, 1].
//
// next() returns the value at the phase on entry and then advances. The
// "S&H" shape holds a value drawn at each phase wrap from a fixed hash of the
// wrapped phase (sin(12345.679·q)·43758.547, fractional part mapped to
// [-1, 1)), so a constant-rate modulator repeats the same held values after
// every reset; a new held value is first seen on the sample after the wrap.
// `shape` may be written directly by the owner; the phase is reset by the
// owner (`phase = 0` or reset()). No heap storage; audio thread.

#include <cmath>
#include <cstdint>

#include "dsp_kit/primitives/math.hpp"

namespace dsp_kit {

// Shape indices of `Lfo::shape` ("Sine", "Triangle", "Saw", "Square", "S&H").
enum class LfoShape : std::uint8_t { Sine = 0, Triangle = 1, Saw = 2, Square = 3, SampleAndHold = 4 };

class Lfo {
public:
    // 1 Hz sine at 44100 Hz.
    Lfo() noexcept = default;
    // `rate_hz` cycles per second (negative gives 0); `shape_index` as set_shape.
    Lfo(float sample_rate_hz, float rate_hz, std::uint8_t shape_index = 0) noexcept;
    Lfo(float sample_rate_hz, float rate_hz, LfoShape s) noexcept;

    // rate = max(hz, 0); phase_increment = rate / sample_rate.
    void set_rate(float hz) noexcept;
    // sample_rate = sr; phase_increment = rate / sr.
    void set_sample_rate(float sr) noexcept;
    // Shape index 0..4; any other index gives "Sine" (0).
    void set_shape(std::uint8_t index) noexcept;
    void set_shape(LfoShape s) noexcept { shape = static_cast<std::uint8_t>(s); }
    // Phase back to 0; the held value and all settings are kept.
    void reset() noexcept { phase = 0.0f; }

    // Value at the current phase, then one step.
    float next() noexcept;

    // Held value drawn for a wrapped phase q: 2·frac(sin(12345.679·q)·43758.547) − 1.
    static float hash_phase(float q) noexcept;

    float sample_rate = 44100.0f;              // Hz
    float rate = 1.0f;                         // cycles per second
    float phase = 0.0f;                        // 0 <= phase < 1
    float phase_increment = 1.0f / 44100.0f;   // rate / sample_rate
    float held_value = 0.0f;                   // current "S&H" value
    std::uint8_t shape = 0;                    // LfoShape index; unknown values act as "Sine"
};

// ---------------------------------------------------------------------------

inline Lfo::Lfo(float sample_rate_hz, float rate_hz, std::uint8_t shape_index) noexcept
    : sample_rate(sample_rate_hz)
    , rate(non_negative(rate_hz))
    , phase_increment(rate / sample_rate)
{
    set_shape(shape_index);
}

inline Lfo::Lfo(float sample_rate_hz, float rate_hz, LfoShape s) noexcept
    : Lfo(sample_rate_hz, rate_hz, static_cast<std::uint8_t>(s))
{
}

inline void Lfo::set_rate(float hz) noexcept
{
    rate = non_negative(hz);
    phase_increment = rate / sample_rate;
}

inline void Lfo::set_sample_rate(float sr) noexcept
{
    sample_rate = sr;
    phase_increment = rate / sr;
}

inline void Lfo::set_shape(std::uint8_t index) noexcept
{
    shape = index < 5 ? index : std::uint8_t{0};
}

inline float Lfo::hash_phase(float q) noexcept
{
    const float h = std::sin(12345.679f * q) * 43758.547f;
    return 2.0f * (h - std::floor(h)) - 1.0f;
}

inline float Lfo::next() noexcept
{
    const float p = phase;
    float value;
    switch (shape) {
    case 1: value = p < 0.5f ? 4.0f * p - 1.0f : 3.0f - 4.0f * p; break;
    case 2: value = 2.0f * p - 1.0f; break;
    case 3: value = p < 0.5f ? 1.0f : -1.0f; break;
    case 4: value = held_value; break;
    default: value = std::sin(two_pi * p); break;
    }

    phase = p + phase_increment;
    if (phase >= 1.0f) {
        phase -= 1.0f;
        if (phase >= 1.0f) { // a cycle or more per sample: keep 0 <= phase < 1
            phase -= std::floor(phase);
        }
        if (shape == 4) {
            held_value = hash_phase(phase);
        }
    }
    return value;
}

} // namespace dsp_kit
