#include "plugin/dsp/sync.hpp"

#include <algorithm>
#include <array>

namespace tessellgrove {

namespace {

// "4 bars", "2 bars", "1 bar", "1/2", "1/4", "1/8", "1/16", "1/4T", "1/8T"
constexpr std::array<float, 9> lock_motion_table{
    16.0f, 8.0f, 4.0f, 2.0f, 1.0f, 0.5f, 0.25f, 2.0f / 3.0f, 1.0f / 3.0f};

// "1/4", "1/8", "1/16", "1/32"
constexpr std::array<float, 4> division_table{1.0f, 0.5f, 0.25f, 0.125f};

} // namespace

float lock_motion_beats(int32_t index) noexcept
{
    if (index < 0 || index >= static_cast<int32_t>(lock_motion_table.size())) {
        index = 0;
    }
    return lock_motion_table[static_cast<std::size_t>(index)];
}

float division_beats(int32_t index) noexcept
{
    if (index < 0 || index >= static_cast<int32_t>(division_table.size())) {
        index = 0;
    }
    return division_table[static_cast<std::size_t>(index)];
}

float synced_rate_hz(float tempo, float beats) noexcept
{
    return std::max((tempo / 60.0f) / beats, 0.001f);
}

uint32_t saturating_u32(float value) noexcept
{
    // `!(value > 0)` also catches NaN.
    if (!(value > 0.0f)) {
        return 0;
    }
    if (value > 4294967040.0f) {
        return 4294967295u;
    }
    return static_cast<uint32_t>(value);
}

uint32_t grid_period_samples(float sample_rate, float tempo) noexcept
{
    return saturating_u32(sample_rate * 60.0f / (2.0f * tempo));
}

} // namespace tessellgrove
