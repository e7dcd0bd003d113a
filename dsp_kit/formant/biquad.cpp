#include "dsp_kit/formant/biquad.hpp"

#include <cmath>

#include "dsp_kit/primitives/math.hpp"

namespace dsp_kit {

Biquad::Biquad(float sample_rate_hz, float frequency_hz, float quality, BiquadResponse r) noexcept
    : sample_rate(sample_rate_hz)
    , frequency(frequency_hz)
    , q(quality)
    , response(static_cast<std::uint8_t>(r))
{
    set_tuning(frequency_hz, quality);
}

void Biquad::set_tuning(float hz, float quality) noexcept
{
    const float nyquist_limit = 0.49f * sample_rate;
    const float f = non_negative(hz);
    frequency = f < nyquist_limit ? f : nyquist_limit;
    q = quality > 0.1f ? quality : 0.1f;
    update_coefficients();
}

void Biquad::set_response(std::uint8_t index) noexcept
{
    response = index;
    update_coefficients();
}

void Biquad::set_sample_rate(float sr) noexcept
{
    sample_rate = sr;
    set_tuning(frequency, q);
}

void Biquad::update_coefficients() noexcept
{
    gain = 0.0f;
    const float w = two_pi * frequency / sample_rate;
    const float cos_w = std::cos(w);
    const float alpha = std::sin(w) / (2.0f * q);
    const float a0 = 1.0f + alpha;
    switch (response) {
    case 0:
        b0 = (1.0f - cos_w) / 2.0f / a0;
        b1 = (1.0f - cos_w) / a0;
        b2 = (1.0f - cos_w) / 2.0f / a0;
        break;
    case 1:
        b0 = (1.0f + cos_w) / 2.0f / a0;
        b1 = -(1.0f + cos_w) / a0;
        b2 = (1.0f + cos_w) / 2.0f / a0;
        break;
    case 2:
        b0 = alpha / a0;
        b1 = 0.0f;
        b2 = -alpha / a0;
        break;
    case 3:
        b0 = 1.0f / a0;
        b1 = -2.0f * cos_w / a0;
        b2 = 1.0f / a0;
        break;
    default:
        // Unknown response: a plain pass-through.
        b0 = 1.0f;
        b1 = 0.0f;
        b2 = 0.0f;
        a1 = 0.0f;
        a2 = 0.0f;
        return;
    }
    a1 = -2.0f * cos_w / a0;
    a2 = (1.0f - alpha) / a0;
}

} // namespace dsp_kit
