#include "dsp_kit/formant/formant_filter.hpp"

#include <cmath>

#include "dsp_kit/primitives/math.hpp"

namespace dsp_kit {

FormantFilter::FormantFilter(float sample_rate_hz) noexcept
    : sections{{
          Biquad(sample_rate_hz, 800.0f, base_q[0], BiquadResponse::BandPass),
          Biquad(sample_rate_hz, 1200.0f, base_q[1], BiquadResponse::BandPass),
          Biquad(sample_rate_hz, 2500.0f, base_q[2], BiquadResponse::BandPass),
      }}
    , sample_rate(sample_rate_hz)
{
}

void FormantFilter::set_position(float x) noexcept
{
    x = clamp(x, 0.0f, 1.0f);
    position = x;
    if (std::fabs(x - last_position) > 0.001f) {
        last_position = x;
        update_formants();
    }
}

void FormantFilter::set_resonance(float x) noexcept
{
    x = clamp(x, 0.0f, 1.0f);
    resonance = x;
    if (std::fabs(x - last_resonance) > 0.001f) {
        last_resonance = x;
        update_formants();
    }
}

void FormantFilter::set_sample_rate(float sr) noexcept
{
    sample_rate = sr;
    for (Biquad& section : sections) {
        section.sample_rate = sr;
    }
    update_formants();
}

void FormantFilter::set_mix(float x) noexcept
{
    mix = clamp(x, 0.0f, 1.0f);
}

void FormantFilter::reset() noexcept
{
    for (Biquad& section : sections) {
        section.reset();
    }
}

void FormantFilter::update_formants() noexcept
{
    const float s = 4.0f * position;
    float k = std::floor(s);
    k = k < 0.0f ? 0.0f : (k > 3.0f ? 3.0f : k);
    const float t = s - k;
    const auto row = static_cast<std::size_t>(k);
    const float bandwidth_scale = resonance * 1.5f + 0.5f;
    for (std::size_t j = 0; j < 3; ++j) {
        const float lo = vowel_table[row][j];
        const float hi = vowel_table[row + 1][j];
        formants[j] = lo + t * (hi - lo);
        const float f = formants[j] > 1.0f ? formants[j] : 1.0f;
        sections[j].set_tuning(f, base_q[j] * bandwidth_scale);
    }
}

} // namespace dsp_kit
