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

#include <emmintrin.h>

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

// fast_exp2 of four lanes with SSE2, bit for bit the same as the scalar
// function on each lane (floor, cubic and exponent field computed alike).
inline __m128 fast_exp2_4(__m128 x) noexcept
{
    // floor(x): truncate and step down where that went up; values of 2^23
    // or more are whole already (and NaN stays NaN).
    const __m128 abs_mask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 big = _mm_cmpge_ps(_mm_and_ps(x, abs_mask), _mm_set1_ps(8388608.0f));
    const __m128 unordered = _mm_cmpunord_ps(x, x);
    const __m128 keep = _mm_or_ps(big, unordered);
    __m128 t = _mm_cvtepi32_ps(_mm_cvttps_epi32(x));
    t = _mm_sub_ps(t, _mm_and_ps(_mm_cmpgt_ps(t, x), _mm_set1_ps(1.0f)));
    // For ±0 floor gives x itself (truncation would turn -0 into +0).
    const __m128 zero_in = _mm_cmpeq_ps(x, _mm_setzero_ps());
    const __m128 n = _mm_or_ps(_mm_and_ps(_mm_or_ps(keep, zero_in), x), _mm_andnot_ps(_mm_or_ps(keep, zero_in), t));
    const __m128 f = _mm_sub_ps(x, n);
    __m128 p = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(0.07944154f), f), _mm_set1_ps(0.22741129f));
    p = _mm_add_ps(_mm_mul_ps(p, f), _mm_set1_ps(0.69680786f));
    p = _mm_add_ps(_mm_mul_ps(p, f), _mm_set1_ps(0.9998465f));

    // Saturating conversion of n: NaN gives 0, 2^31 and above INT32_MAX,
    // below -2^31 INT32_MIN (which is what cvttps gives out of range).
    __m128i whole = _mm_cvttps_epi32(n);
    const __m128i too_big = _mm_castps_si128(_mm_cmpge_ps(n, _mm_set1_ps(2147483648.0f)));
    whole = _mm_or_si128(_mm_andnot_si128(too_big, whole), _mm_and_si128(too_big, _mm_set1_epi32(INT32_MAX)));
    whole = _mm_andnot_si128(_mm_castps_si128(_mm_cmpunord_ps(n, n)), whole);
    const __m128i bits = _mm_add_epi32(_mm_slli_epi32(whole, 23), _mm_set1_epi32(0x3F800000));
    return _mm_mul_ps(_mm_castsi128_ps(bits), p);
}

} // namespace dsp_kit
