#pragma once
// sine_of_turns: sin(2π·x) of a run of phases (in cycles), in place, four
// at a time with sin4. Oscillators whose phases are stepped one sample at a
// time can collect a run of phases first and take their sines here; each
// value is bit for bit what sin1(two_pi * x) gives, so a per-sample path
// that calls sin1 and a block path that calls this agree exactly.
// Pure; any thread.

#include <cstddef>

#include "dsp_kit/primitives/math.hpp"
#include "dsp_kit/primitives/sine.hpp"

namespace dsp_kit {

// x[i] = sin(2π·x[i]) for i < count (sin4 accuracy).
inline void sine_of_turns(float* x, std::size_t count) noexcept
{
    const __m128 turn = _mm_set1_ps(two_pi);
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        _mm_storeu_ps(x + i, sin4(_mm_mul_ps(turn, _mm_loadu_ps(x + i))));
    }
    for (; i < count; ++i) {
        x[i] = sin1(two_pi * x[i]);
    }
}

} // namespace dsp_kit
