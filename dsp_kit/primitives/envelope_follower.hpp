#pragma once
// EnvelopeFollower: peak follower with separate attack and release.
//
//   level = (level − x)·c + x,  c = attack coefficient while x > level,
//                               release coefficient otherwise,
//   coefficient for t ms = exp(−1 / (t·0.001·sample_rate)), or 0 when t <= 0
//   (a zero time follows the input at once).
//
// Feed it a non-negative level (e.g. |x|). No heap storage; audio thread.

namespace dsp_kit {

class EnvelopeFollower {
public:
    // 10 ms attack, 100 ms release at 44100 Hz.
    EnvelopeFollower() noexcept : EnvelopeFollower(44100.0f, 10.0f, 100.0f) {}
    // Times in milliseconds; level 0.
    EnvelopeFollower(float sample_rate_hz, float attack_time_ms, float release_time_ms) noexcept;

    // sample_rate = sr, then both coefficients recomputed.
    void set_sample_rate(float sr) noexcept;
    // attack_ms = ms, coefficient recomputed.
    void set_attack(float ms) noexcept;
    // release_ms = ms, coefficient recomputed.
    void set_release(float ms) noexcept;
    // Level back to 0; times and rate kept.
    void reset() noexcept { level = 0.0f; }

    // Follows a non-negative input level; returns the new envelope.
    float process(float x) noexcept
    {
        const float c = x > level ? attack_coefficient : release_coefficient;
        level = (level - x) * c + x;
        return level;
    }

    // exp(−1 / (t·0.001·sample_rate)) for t > 0, else 0.
    static float coefficient_for(float time_ms, float sample_rate_hz) noexcept;

    float sample_rate;          // Hz
    float attack_ms;            // attack time, ms
    float release_ms;           // release time, ms
    float attack_coefficient;   // used while the input rises above the level
    float release_coefficient;  // used otherwise
    float level = 0.0f;         // current envelope
};

} // namespace dsp_kit
