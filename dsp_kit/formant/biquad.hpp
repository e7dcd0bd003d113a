#pragma once
// Biquad: one second-order section with cookbook coefficients, processed in
// transposed direct form II:
//   y = b0·x + z1;  z1 = b1·x − a1·y + z2;  z2 = b2·x − a2·y.
//
// Coefficients (a0 divided out), with w = 2π·frequency/sample_rate and
// α = sin(w)/(2q): low-pass, high-pass, band-pass with a 0 dB peak at the
// centre frequency, or notch. Coefficients are recomputed by every setter;
// the state (z1, z2) is only cleared by reset(). No heap storage; audio thread.

#include <cstdint>

namespace dsp_kit {

// Response indices of `Biquad::response`.
enum class BiquadResponse : std::uint8_t { LowPass = 0, HighPass = 1, BandPass = 2, Notch = 3 };

class Biquad {
public:
    // Band-pass at 1000 Hz, q 1, at 44100 Hz.
    Biquad() noexcept : Biquad(44100.0f, 1000.0f, 1.0f, BiquadResponse::BandPass) {}
    // Frequency and q limited as in set_tuning; zero state; coefficients computed.
    Biquad(float sample_rate_hz, float frequency_hz, float quality, BiquadResponse r) noexcept;

    // frequency = min(max(hz, 0), 0.49·sample_rate); q = max(quality, 0.1);
    // coefficients recomputed once.
    void set_tuning(float hz, float quality) noexcept;
    // As set_tuning with the current q.
    void set_frequency(float hz) noexcept { set_tuning(hz, q); }
    // As set_tuning with the current frequency.
    void set_q(float quality) noexcept { set_tuning(frequency, quality); }
    // Response index 0..3 (any other index gives a pass-through: b0 = 1).
    void set_response(std::uint8_t index) noexcept;
    void set_response(BiquadResponse r) noexcept { set_response(static_cast<std::uint8_t>(r)); }
    // sample_rate = sr; the stored frequency is limited again to 0.49·sr and
    // the coefficients recomputed.
    void set_sample_rate(float sr) noexcept;
    // Recomputes b0..a2 from sample_rate, frequency, q and response; gain = 0.
    void update_coefficients() noexcept;
    // State z1, z2 to 0; settings and coefficients kept.
    void reset() noexcept { z1 = 0.0f; z2 = 0.0f; }

    // One sample, transposed direct form II.
    float process(float x) noexcept
    {
        const float y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }

    float sample_rate;      // Hz
    float frequency;        // centre / corner frequency, Hz
    float q;                // quality factor
    float gain = 0.0f;      // unused by these responses; 0 after every coefficient update
    float b0 = 1.0f;        // feed-forward coefficients
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;        // feedback coefficients (a0 divided out)
    float a2 = 0.0f;
    float z1 = 0.0f;        // state
    float z2 = 0.0f;
    std::uint8_t response;  // BiquadResponse index
};

} // namespace dsp_kit
