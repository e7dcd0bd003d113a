#pragma once
// soft_clip: rational clipper x(27 + x²) / (27 + 9x²).
// Close to tanh for small x, exactly ±1 at x = ±3, and growing as about x/9
// beyond, so it rounds peaks without a hard ceiling.
// soft_clip4: the same on four lanes with SSE2, bit for bit soft_clip on
// each lane.

#include <emmintrin.h>

namespace dsp_kit {

// Rational soft clipper (see above); pure, any thread.
// Beyond |x| = 1e12 the cube in the numerator would overflow to ±inf (and
// inf/inf to NaN further out), which would poison every filter state behind
// the clipper. There the curve is x/9 to far better than float precision, so
// that is what it returns.
inline float soft_clip(float x) noexcept
{
    if (x > 1e12f || x < -1e12f) {
        return x / 9.0f;
    }
    const float x2 = x * x;
    return x * (27.0f + x2) / (27.0f + 9.0f * x2);
}

// soft_clip of each lane: the same operations in the same order, the x/9
// branch chosen per lane by a mask (numerator and denominator are selected,
// so one division serves both branches). NaN gives NaN as in soft_clip.
inline __m128 soft_clip4(__m128 x) noexcept
{
    const __m128 abs_mask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 huge = _mm_cmpgt_ps(_mm_and_ps(x, abs_mask), _mm_set1_ps(1e12f));
    const __m128 x2 = _mm_mul_ps(x, x);
    const __m128 num = _mm_mul_ps(x, _mm_add_ps(_mm_set1_ps(27.0f), x2));
    const __m128 den = _mm_add_ps(_mm_set1_ps(27.0f), _mm_mul_ps(_mm_set1_ps(9.0f), x2));
    const __m128 n = _mm_or_ps(_mm_and_ps(huge, x), _mm_andnot_ps(huge, num));
    const __m128 d = _mm_or_ps(_mm_and_ps(huge, _mm_set1_ps(9.0f)), _mm_andnot_ps(huge, den));
    return _mm_div_ps(n, d);
}

} // namespace dsp_kit
