#pragma once
// SampleAndHold: a clocked random value in [-1, 1] with an optional glide.
//
// A phase clock at `rate` Hz draws a new value at each wrap from a 32-bit
// xorshift generator (x ^= x << 13; x ^= x >> 17; x ^= x << 5), mapped as
// float(state)·2⁻³²·2 − 1. The generator is seeded with 12345 and draws once
// at construction (state 0xC6E5747A, value 0.5538774), so every instance
// produces the same sequence. With smoothing s > 0 the output glides towards
// the held value with k = 0.999·s per sample; with s = 0 it jumps.
// No heap storage; audio thread.

#include <cmath>
#include <cstdint>

#include "dsp_kit/primitives/math.hpp"

namespace dsp_kit {

class SampleAndHold {
public:
    // Seed of the xorshift generator before the construction draw.
    static constexpr std::uint32_t seed = 12345u;

    // 10 Hz clock, no smoothing, at 44100 Hz.
    SampleAndHold() noexcept : SampleAndHold(44100.0f) {}
    // Seeds the generator and draws the first value into `held` and `smoothed`.
    explicit SampleAndHold(float sample_rate_hz, float rate_hz = 10.0f, float smoothing_amount = 0.0f) noexcept;

    // rate = max(hz, 0); phase_increment = rate / sample_rate.
    void set_rate(float hz) noexcept;
    // sample_rate = sr; the rate is kept, phase_increment = rate / sr.
    void set_sample_rate(float sr) noexcept;
    // smoothing = clamp(x, 0, 1).
    void set_smoothing(float x) noexcept { smoothing = clamp(x, 0.0f, 1.0f); }
    // Clock phase to 0 and one new value drawn into `held` and `smoothed`.
    // The generator state is not re-seeded, so the sequence continues.
    void reset() noexcept;

    // One xorshift step; stores and returns the new `held` value.
    float draw() noexcept;
    // One sample: clock (drawing at a wrap), then glide; returns `smoothed`.
    float process() noexcept;

    float sample_rate;                   // Hz
    float rate;                          // clock, Hz
    float phase = 0.0f;                  // clock phase, 0..1
    float phase_increment;               // rate / sample_rate
    float smoothed = 0.0f;               // output value
    float held = 0.0f;                   // last value drawn
    float smoothing;                     // 0..1
    std::uint32_t rng_state = seed;      // xorshift state, never 0
};

// ---------------------------------------------------------------------------

inline SampleAndHold::SampleAndHold(float sample_rate_hz, float rate_hz, float smoothing_amount) noexcept
    : sample_rate(sample_rate_hz)
    , rate(non_negative(rate_hz))
    , phase_increment(rate / sample_rate)
    , smoothing(clamp(smoothing_amount, 0.0f, 1.0f))
{
    smoothed = draw();
}

inline void SampleAndHold::set_rate(float hz) noexcept
{
    rate = non_negative(hz);
    phase_increment = rate / sample_rate;
}

inline void SampleAndHold::set_sample_rate(float sr) noexcept
{
    sample_rate = sr;
    phase_increment = rate / sr;
}

inline void SampleAndHold::reset() noexcept
{
    phase = 0.0f;
    smoothed = draw();
}

inline float SampleAndHold::draw() noexcept
{
    std::uint32_t x = rng_state;
    x ^= x << 13u;
    x ^= x >> 17u;
    x ^= x << 5u;
    rng_state = x;
    // 2⁻³² exactly; the state is rounded to the nearest float first.
    held = static_cast<float>(x) * 0x1p-32f * 2.0f - 1.0f;
    return held;
}

inline float SampleAndHold::process() noexcept
{
    phase += phase_increment;
    if (phase >= 1.0f) {
        phase -= 1.0f;
        if (phase >= 1.0f) { // a clock above the sample rate: keep 0 <= phase < 1
            phase -= std::floor(phase);
        }
        draw();
    }
    if (smoothing > 0.0f) {
        const float k = 0.999f * smoothing;
        smoothed = k * smoothed + (1.0f - k) * held;
    } else {
        smoothed = held;
    }
    return smoothed;
}

} // namespace dsp_kit
