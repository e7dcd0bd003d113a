#pragma once
// tanh4: the hyperbolic tangent of four floats at once with SSE2, for the
// saturators of a stereo pair or of several frames; tanh1: the same
// arithmetic on one value.
//
// Within 1 ulp of the correctly rounded tanh and within 2 ulp of glibc's
// tanhf for every float (both checked exhaustively over all 2^31 positive
// floats while the constants were chosen; the tests sweep the float line
// densely and hold it to those bounds). Exactly ±1 for |x| > 9.0109129, the
// same threshold as tanhf; odd by construction (computed on |x|, the sign
// put back as a bit, so −0 gives −0); x itself for tiny x and denormals
// (no cancellation: the polynomial's part is added to x; with denormals
// flushed, as the plug-in runs, a denormal reads as 0 and gives 0); NaN for
// NaN; ±1 for ±inf.
//
// |x| < 0.55: x + x³·P(x²), P a degree-4 minimax polynomial (relative error
// of the fit 4e-9, far below a float ulp). Above: 1 − 2/(e^{2|x|} + 1),
// with |x| first limited to 9.1; e^y = 2^k·e^r, k the nearest integer to
// y/ln 2, r = y − k·ln 2 in [−ln2/2, ln2/2] with a two-part ln 2 whose
// high part has 9 significant bits (k <= 27, so k·part is exact), and
// e^r = 1 + r + r²·Q(r), Q a degree-5 minimax polynomial. 2^k is built in
// the exponent bits. From 0.55 on q = 2/(e^y + 1) <= tanh(x), so 1 − q does
// not cancel.
//
// One division per four lanes (divps: correctly rounded, the same on every
// processor, unlike the rcpps estimate, whose bits differ between
// vendors). Only SSE2, no fused multiply-add: the results are the same
// wherever this is compiled and do not depend on the caller's rounding
// mode beyond the usual float arithmetic (k is rounded by truncating
// y/ln 2 + 0.5, not by the current mode). Pure functions; any thread.

#include <emmintrin.h>

namespace dsp_kit {

// Hyperbolic tangent of each lane of x.
inline __m128 tanh4(__m128 x) noexcept
{
    const __m128 sign_bit = _mm_castsi128_ps(_mm_set1_epi32(static_cast<int>(0x80000000u)));
    const __m128 sign = _mm_and_ps(x, sign_bit);
    const __m128 a = _mm_andnot_ps(sign_bit, x); // |x|
    const __m128 one = _mm_set1_ps(1.0f);

    // Small |x|: x + x·z·P(z), z = x².
    const __m128 z = _mm_mul_ps(a, a);
    __m128 p = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(-6.610227831e-3f), z), _mm_set1_ps(2.130938866e-2f));
    p = _mm_add_ps(_mm_mul_ps(p, z), _mm_set1_ps(-5.390942883e-2f));
    p = _mm_add_ps(_mm_mul_ps(p, z), _mm_set1_ps(1.333311373e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, z), _mm_set1_ps(-3.333333201e-1f));
    const __m128 small = _mm_add_ps(a, _mm_mul_ps(_mm_mul_ps(a, z), p));

    // Larger |x|: 1 − 2/(e^y + 1), y = 2·min(|x|, 9.1). The limit keeps 2^k
    // in range; from 9.1 on q is below half an ulp of 1, so the result is 1.
    // min(9.1, a) keeps a NaN (minps returns its second operand then).
    const __m128 t = _mm_min_ps(_mm_set1_ps(9.1f), a);
    const __m128 y = _mm_add_ps(t, t);
    const __m128i k = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(y, _mm_set1_ps(1.44269504089f)), _mm_set1_ps(0.5f)));
    const __m128 kf = _mm_cvtepi32_ps(k);
    __m128 r = _mm_sub_ps(y, _mm_mul_ps(kf, _mm_set1_ps(0.693359375f)));
    r = _mm_sub_ps(r, _mm_mul_ps(kf, _mm_set1_ps(-2.12194440e-4f)));
    __m128 e = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(1.989126851e-4f), r), _mm_set1_ps(1.393390005e-3f));
    e = _mm_add_ps(_mm_mul_ps(e, r), _mm_set1_ps(8.333310675e-3f));
    e = _mm_add_ps(_mm_mul_ps(e, r), _mm_set1_ps(4.166646267e-2f));
    e = _mm_add_ps(_mm_mul_ps(e, r), _mm_set1_ps(1.666666668e-1f));
    e = _mm_add_ps(_mm_mul_ps(e, r), _mm_set1_ps(5.000000014e-1f));
    e = _mm_add_ps(_mm_add_ps(_mm_mul_ps(e, _mm_mul_ps(r, r)), r), one);
    // 2^k as a bit pattern; a NaN lane gives k = INT32_MIN, shifted to 0.
    const __m128 scale = _mm_castsi128_ps(_mm_add_epi32(_mm_slli_epi32(k, 23), _mm_set1_epi32(0x3F800000)));
    const __m128 q = _mm_div_ps(_mm_set1_ps(2.0f), _mm_add_ps(_mm_mul_ps(e, scale), one));
    const __m128 large = _mm_sub_ps(one, q);

    const __m128 use_small = _mm_cmplt_ps(a, _mm_set1_ps(0.55f));
    const __m128 magnitude = _mm_or_ps(_mm_and_ps(use_small, small), _mm_andnot_ps(use_small, large));
    return _mm_or_ps(magnitude, sign);
}

// The same as one lane of tanh4 (bit for bit).
inline float tanh1(float x) noexcept
{
    return _mm_cvtss_f32(tanh4(_mm_set_ss(x)));
}

} // namespace dsp_kit
