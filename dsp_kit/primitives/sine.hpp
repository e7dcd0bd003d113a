#pragma once
// sin4: the sine of four floats at once with SSE2, for the oscillator bank's
// voices; sin1: the same arithmetic on one value; sin8: the same arithmetic
// on eight lanes with AVX2, lane for lane the same floats as sin4.
//
// Accurate to 2 ulp of the C library's sinf for arguments in [0, 2π] (the
// range an oscillator reaches, 2π·phase with phase in 0..1; checked by a
// dense sweep in the tests), and usable with less care up to |x| of about
// 10⁴. The argument is reduced to r in [−π/4, π/4] around the nearest
// multiple k·π/2 with a four-part π/2 whose parts have at most 12
// significant bits, so k·part is exact and the reduction loses almost
// nothing near the zeros of the sine; then a degree-7 odd (sine) or
// degree-8 even (cosine) minimax polynomial in r, chosen and signed by k.
//
// Pure functions; any thread. Results do not depend on the rounding mode
// of the caller beyond the usual float arithmetic (k is rounded to
// nearest by the SSE2 conversion, which every mode keeps within ±π/4 + 1
// ulp of the polynomial's range).
//
// sin8 is compiled for AVX2 whatever the build's target flags: call it only
// from code that has checked at run time that the processor has AVX2, in a
// function itself marked [[gnu::target("avx2")]]. It contains no fused
// multiply-add (AVX2 does not imply FMA), so each lane rounds exactly as in
// sin4.

#include <immintrin.h>

namespace dsp_kit {

// Sine of each lane of x (radians).
inline __m128 sin4(__m128 x) noexcept
{
    const __m128 sign_bit = _mm_castsi128_ps(_mm_set1_epi32(static_cast<int>(0x80000000u)));
    const __m128 sign = _mm_and_ps(x, sign_bit);
    const __m128 a = _mm_andnot_ps(sign_bit, x); // |x|

    // Nearest quarter turn k and the remainder r = |x| − k·π/2.
    const __m128i k = _mm_cvtps_epi32(_mm_mul_ps(a, _mm_set1_ps(0.636619772367581343f)));
    const __m128 kf = _mm_cvtepi32_ps(k);
    __m128 r = _mm_sub_ps(a, _mm_mul_ps(kf, _mm_set1_ps(1.57080078125f)));
    r = _mm_sub_ps(r, _mm_mul_ps(kf, _mm_set1_ps(-4.4535845518112183e-06f)));
    r = _mm_sub_ps(r, _mm_mul_ps(kf, _mm_set1_ps(-8.7061380327213556e-10f)));
    r = _mm_sub_ps(r, _mm_mul_ps(kf, _mm_set1_ps(6.2233719696699885e-14f)));

    const __m128 z = _mm_mul_ps(r, r);
    // sin(r) ≈ r + r·z·(s2 + z·(s1 + z·s0))
    __m128 s = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(-1.9515295891e-4f), z), _mm_set1_ps(8.3321608736e-3f));
    s = _mm_add_ps(_mm_mul_ps(s, z), _mm_set1_ps(-1.6666654611e-1f));
    s = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(s, z), r), r);
    // cos(r) ≈ 1 − z/2 + z²·(c2 + z·(c1 + z·c0))
    __m128 c = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(2.443315711809948e-5f), z), _mm_set1_ps(-1.388731625493765e-3f));
    c = _mm_add_ps(_mm_mul_ps(c, z), _mm_set1_ps(4.166664568298827e-2f));
    c = _mm_mul_ps(_mm_mul_ps(c, z), z);
    c = _mm_add_ps(_mm_sub_ps(c, _mm_mul_ps(_mm_set1_ps(0.5f), z)), _mm_set1_ps(1.0f));

    // Odd k: the cosine; k & 2: negated; then the sign of x.
    const __m128 use_cos =
        _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(k, _mm_set1_epi32(1)), _mm_set1_epi32(1)));
    const __m128 negate = _mm_castsi128_ps(_mm_slli_epi32(_mm_and_si128(k, _mm_set1_epi32(2)), 30));
    const __m128 y = _mm_or_ps(_mm_and_ps(use_cos, c), _mm_andnot_ps(use_cos, s));
    return _mm_xor_ps(y, _mm_xor_ps(negate, sign));
}

// Sine of each lane of x (radians); AVX2 only (see above). Each lane is bit
// for bit sin4 of the same value.
[[gnu::target("avx2")]] inline __m256 sin8(__m256 x) noexcept
{
    const __m256 sign_bit = _mm256_castsi256_ps(_mm256_set1_epi32(static_cast<int>(0x80000000u)));
    const __m256 sign = _mm256_and_ps(x, sign_bit);
    const __m256 a = _mm256_andnot_ps(sign_bit, x); // |x|

    // Nearest quarter turn k and the remainder r = |x| − k·π/2.
    const __m256i k = _mm256_cvtps_epi32(_mm256_mul_ps(a, _mm256_set1_ps(0.636619772367581343f)));
    const __m256 kf = _mm256_cvtepi32_ps(k);
    __m256 r = _mm256_sub_ps(a, _mm256_mul_ps(kf, _mm256_set1_ps(1.57080078125f)));
    r = _mm256_sub_ps(r, _mm256_mul_ps(kf, _mm256_set1_ps(-4.4535845518112183e-06f)));
    r = _mm256_sub_ps(r, _mm256_mul_ps(kf, _mm256_set1_ps(-8.7061380327213556e-10f)));
    r = _mm256_sub_ps(r, _mm256_mul_ps(kf, _mm256_set1_ps(6.2233719696699885e-14f)));

    const __m256 z = _mm256_mul_ps(r, r);
    // sin(r) ≈ r + r·z·(s2 + z·(s1 + z·s0))
    __m256 s = _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(-1.9515295891e-4f), z), _mm256_set1_ps(8.3321608736e-3f));
    s = _mm256_add_ps(_mm256_mul_ps(s, z), _mm256_set1_ps(-1.6666654611e-1f));
    s = _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(s, z), r), r);
    // cos(r) ≈ 1 − z/2 + z²·(c2 + z·(c1 + z·c0))
    __m256 c =
        _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(2.443315711809948e-5f), z), _mm256_set1_ps(-1.388731625493765e-3f));
    c = _mm256_add_ps(_mm256_mul_ps(c, z), _mm256_set1_ps(4.166664568298827e-2f));
    c = _mm256_mul_ps(_mm256_mul_ps(c, z), z);
    c = _mm256_add_ps(_mm256_sub_ps(c, _mm256_mul_ps(_mm256_set1_ps(0.5f), z)), _mm256_set1_ps(1.0f));

    // Odd k: the cosine; k & 2: negated; then the sign of x.
    const __m256 use_cos = _mm256_castsi256_ps(
        _mm256_cmpeq_epi32(_mm256_and_si256(k, _mm256_set1_epi32(1)), _mm256_set1_epi32(1)));
    const __m256 negate = _mm256_castsi256_ps(_mm256_slli_epi32(_mm256_and_si256(k, _mm256_set1_epi32(2)), 30));
    const __m256 y = _mm256_or_ps(_mm256_and_ps(use_cos, c), _mm256_andnot_ps(use_cos, s));
    return _mm256_xor_ps(y, _mm256_xor_ps(negate, sign));
}

// The same as one lane of sin4 (bit for bit).
inline float sin1(float x) noexcept
{
    return _mm_cvtss_f32(sin4(_mm_set_ss(x)));
}

} // namespace dsp_kit
