#pragma once
// OnePole: one-pole low-pass with an optional high-pass output.
//
//   state = (state − x)·c + x,   c = exp(−2π·cutoff / sample_rate)
//
// The low-pass output is `state`; the high-pass output is x − state. The
// cutoff is fixed when the filter is built (min(0.49·sample_rate, limit)) and
// is not derived again when the rate changes; set_sample_rate only recomputes
// the coefficient. No heap storage; audio thread.

#include <cmath>

#include "dsp_kit/primitives/math.hpp"

namespace dsp_kit {

class OnePole {
public:
    // 1000 Hz low-pass at 44100 Hz.
    OnePole() noexcept : OnePole(44100.0f, 1000.0f, false) {}
    // cutoff = min(0.49·sample_rate, cutoff_limit_hz); state 0.
    OnePole(float sample_rate_hz, float cutoff_limit_hz, bool highpass_output) noexcept;

    // sample_rate = sr; coefficient recomputed from the stored cutoff.
    void set_sample_rate(float sr) noexcept;
    // State back to 0; cutoff and rate kept.
    void reset() noexcept { state = 0.0f; }

    // One sample: the low-pass part, or x minus it when `highpass`.
    float process(float x) noexcept
    {
        state = (state - x) * coefficient + x;
        return highpass ? x - state : state;
    }

    // exp(−2π·cutoff / sample_rate).
    static float coefficient_for(float cutoff_hz, float sample_rate_hz) noexcept
    {
        return std::exp(-two_pi * cutoff_hz / sample_rate_hz);
    }

    float sample_rate;      // Hz
    float cutoff;           // Hz, fixed at construction
    float coefficient;      // exp(−2π·cutoff / sample_rate)
    float state = 0.0f;     // low-pass state (integrator)
    bool highpass;          // output x − state instead of state
};

// ---------------------------------------------------------------------------

inline OnePole::OnePole(float sample_rate_hz, float cutoff_limit_hz, bool highpass_output) noexcept
    : sample_rate(sample_rate_hz)
    , cutoff(0.49f * sample_rate_hz < cutoff_limit_hz ? 0.49f * sample_rate_hz : cutoff_limit_hz)
    , coefficient(coefficient_for(cutoff, sample_rate))
    , highpass(highpass_output)
{
}

inline void OnePole::set_sample_rate(float sr) noexcept
{
    sample_rate = sr;
    coefficient = coefficient_for(cutoff, sr);
}

} // namespace dsp_kit
