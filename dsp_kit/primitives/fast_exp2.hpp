#pragma once
// fast_exp2: a cheap 2^x for pitch and rate laws.
//
// 2^floor(x) is built directly as a float bit pattern and multiplied by a
// cubic in the fractional part. The cubic gives p(0) = 0.9998465, so whole
// exponents come out 0.9998465 times the exact power of two (440 Hz times
// fast_exp2(0) is 439.93246 Hz); callers rely on that value.
//
// The exponent field is formed with wrapping 32-bit arithmetic: exact for
// -126 <= floor(x) <= 127, and wrapping (not saturating) outside that range.
// floor(x) is converted to int32 with saturation (above 2147483520 gives
// INT32_MAX, below -2^31 gives INT32_MIN, NaN gives 0).

#include <bit>
#include <cmath>
#include <cstdint>

namespace dsp_kit {

// Approximation of 2^x (see above); pure, any thread.
inline float fast_exp2(float x) noexcept
{
    const float n = std::floor(x);
    const float f = x - n;
    const float p = ((0.07944154f * f + 0.22741129f) * f + 0.69680786f) * f + 0.9998465f;

    std::int32_t whole;
    if (n != n) {
        whole = 0;
    } else if (n >= 2147483648.0f) {
        whole = INT32_MAX;
    } else if (n < -2147483648.0f) {
        whole = INT32_MIN;
    } else {
        whole = static_cast<std::int32_t>(n);
    }
    const std::uint32_t bits = (static_cast<std::uint32_t>(whole) << 23u) + 0x3F800000u;
    return std::bit_cast<float>(bits) * p;
}

} // namespace dsp_kit
