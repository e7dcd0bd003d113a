#pragma once
// Wavefolder: triangle folder of period 4 between −1 and 1.
//   g = (4·drive + 1)·x, then `stages` times g = 4·|frac(0.25·g + 0.25) − 0.5| − 1
//   out = x·(1 − mix) + g·mix
// For |g| <= 1 one fold gives −g, so an odd number of stages inverts small
// signals and an even number restores them. Below drive 0.001 the input
// passes unchanged. Settings only; audio thread.
// process4 folds four lanes with SSE2, bit for bit process on each lane
// (an infinite or NaN input, or a gain that overflows, gives NaN in both).

#include <emmintrin.h>

#include <cmath>
#include <cstdint>

#include "dsp_kit/primitives/math.hpp"

namespace dsp_kit {

class Wavefolder {
public:
    // Largest number of folds.
    static constexpr std::uint32_t max_stages = 4;

    // Drive 0 (pass-through), 1 stage, mix 1.
    Wavefolder() noexcept = default;
    // Drive and mix clamped to 0..1, stages as set_stages.
    Wavefolder(float drive_amount, std::uint32_t stage_count, float mix_amount) noexcept;

    // drive = clamp(x, 0, 1).
    void set_drive(float x) noexcept { drive = clamp(x, 0.0f, 1.0f); }
    // stages = 1 for 0, otherwise min(n, 4).
    void set_stages(std::uint32_t n) noexcept { stages = n == 0 ? 1u : (n < max_stages ? n : max_stages); }
    // mix = clamp(x, 0, 1), the wet share.
    void set_mix(float x) noexcept { mix = clamp(x, 0.0f, 1.0f); }
    // Holds no running state; present so every block can be reset alike.
    void reset() noexcept {}

    // Folds one value (see above).
    float process(float x) const noexcept
    {
        if (drive < 0.001f) {
            return x;
        }
        float g = (4.0f * drive + 1.0f) * x;
        for (std::uint32_t i = 0; i < stages; ++i) {
            const float v = 0.25f * g + 0.25f;
            g = 4.0f * std::fabs(v - std::floor(v) - 0.5f) - 1.0f;
        }
        return x * (1.0f - mix) + g * mix;
    }

    // Folds four values; the same operations as process on each lane.
    __m128 process4(__m128 x) const noexcept
    {
        if (drive < 0.001f) {
            return x;
        }
        const __m128 quarter = _mm_set1_ps(0.25f);
        __m128 g = _mm_mul_ps(_mm_set1_ps(4.0f * drive + 1.0f), x);
        for (std::uint32_t i = 0; i < stages; ++i) {
            const __m128 v = _mm_add_ps(_mm_mul_ps(quarter, g), quarter);
            const __m128 w = _mm_sub_ps(_mm_sub_ps(v, floor4(v)), _mm_set1_ps(0.5f));
            const __m128 abs_w = _mm_andnot_ps(_mm_set1_ps(-0.0f), w);
            g = _mm_sub_ps(_mm_mul_ps(_mm_set1_ps(4.0f), abs_w), _mm_set1_ps(1.0f));
        }
        return _mm_add_ps(_mm_mul_ps(x, _mm_set1_ps(1.0f - mix)), _mm_mul_ps(g, _mm_set1_ps(mix)));
    }

    float drive = 0.0f;          // 0..1; below 0.001 the input passes
    std::uint32_t stages = 1;    // number of folds, 1..4
    float mix = 1.0f;            // wet share 0..1

private:
    // floor of each lane, exactly: truncate through int32 and step down
    // where that went up. Values of magnitude 2^23 or more are whole
    // already and pass unchanged, as do ±inf and NaN (cmpnlt is true for
    // NaN), so they are never pushed through the int32 conversion. −0
    // comes out +0, which the fold cannot tell apart: v − floor(v) is ±0
    // there, and ±0 − 0.5 is −0.5 either way.
    static __m128 floor4(__m128 v) noexcept
    {
        const __m128 whole = _mm_cmpnlt_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), v), _mm_set1_ps(8388608.0f));
        __m128 t = _mm_cvtepi32_ps(_mm_cvttps_epi32(v));
        t = _mm_sub_ps(t, _mm_and_ps(_mm_cmpgt_ps(t, v), _mm_set1_ps(1.0f)));
        return _mm_or_ps(_mm_and_ps(whole, v), _mm_andnot_ps(whole, t));
    }
};

// ---------------------------------------------------------------------------

inline Wavefolder::Wavefolder(float drive_amount, std::uint32_t stage_count, float mix_amount) noexcept
{
    set_drive(drive_amount);
    set_stages(stage_count);
    set_mix(mix_amount);
}

} // namespace dsp_kit
