#pragma once
// Shared constants and NaN-safe range helpers for the DSP blocks.
// All arithmetic in dsp_kit is 32-bit float; these helpers keep it so.

namespace dsp_kit {

// 2π rounded to float (6.2831855).
inline constexpr float two_pi = 6.28318530717958647692f;

// Limits x to [lo, hi]; a NaN argument gives lo, so a bad setting can never
// poison a block's state.
constexpr float clamp(float x, float lo, float hi) noexcept
{
    return x > lo ? (x < hi ? x : hi) : lo;
}

// max(x, 0), with NaN giving 0.
constexpr float non_negative(float x) noexcept
{
    return x > 0.0f ? x : 0.0f;
}

} // namespace dsp_kit
