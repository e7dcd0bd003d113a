#pragma once
// soft_clip: rational clipper x(27 + x²) / (27 + 9x²).
// Close to tanh for small x, exactly ±1 at x = ±3, and growing as about x/9
// beyond, so it rounds peaks without a hard ceiling.

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

} // namespace dsp_kit
