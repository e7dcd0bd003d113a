#include "dsp_kit/delay/delay_line.hpp"

#include <algorithm>
#include <cmath>

namespace dsp_kit {

std::size_t DelayLine::length_for(float sample_rate_hz) noexcept
{
    // Rejects NaN, infinities and non-positive rates before the conversion,
    // which would otherwise be undefined or ask for an absurd allocation.
    if (!(sample_rate_hz > 0.0f)) {
        return 1;
    }
    const float rate = sample_rate_hz < max_sample_rate ? sample_rate_hz : max_sample_rate;
    return static_cast<std::size_t>(std::floor(0.05f * rate)) + 1;
}

DelayLine::DelayLine(float sample_rate_hz)
    : buffer(length_for(sample_rate_hz), 0.0f)
{
}

void DelayLine::set_sample_rate(float sr)
{
    // A fresh vector, so the old storage is released rather than kept at its
    // previous capacity.
    std::vector<float>(length_for(sr), 0.0f).swap(buffer);
    write_index = 0;
}

void DelayLine::reset() noexcept
{
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    write_index = 0;
}

} // namespace dsp_kit
