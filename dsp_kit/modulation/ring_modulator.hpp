#pragma once
// RingModulator: multiplies an input by a carrier, blended with the dry input:
//   out = carrier·x·mix + x·(1 − mix)
// Settings only; audio thread.

#include "dsp_kit/primitives/math.hpp"

namespace dsp_kit {

class RingModulator {
public:
    // mix 1 (plain product).
    RingModulator() noexcept = default;
    // mix clamped to 0..1.
    explicit RingModulator(float mix_amount) noexcept { set_mix(mix_amount); }

    // mix = clamp(x, 0, 1), the modulated share.
    void set_mix(float x) noexcept { mix = clamp(x, 0.0f, 1.0f); }
    // Holds no running state; present so every block can be reset alike.
    void reset() noexcept {}

    // One value: input x modulated by `carrier`.
    float process(float x, float carrier) const noexcept
    {
        return carrier * x * mix + x * (1.0f - mix);
    }

    float mix = 1.0f;   // modulated share 0..1
};

} // namespace dsp_kit
