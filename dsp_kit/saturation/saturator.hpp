#pragma once
// Saturator: input gain 4·drive + 1 into one of four curves, mixed back with
// the input twice (by drive, then by mix):
//   out = (y·drive + (1 − drive)·x)·mix + (1 − mix)·x
// Curves on g = (4·drive + 1)·x:
//   0 tanh(g); 1 clamp(g, −1, 1);
//   2 asymmetric: tanh(1.5g)/tanh(1.5) for g >= 0, tanh(2g)/tanh(2) below
//     (both reach ±1 at |g| = 1, the negative half steeper);
//   3 tanh(g + 0.2·g·|g|).
// Below drive 0.001 the input passes unchanged. Settings only; audio thread.

#include <cmath>
#include <cstdint>

#include "dsp_kit/primitives/math.hpp"

namespace dsp_kit {

// Curve indices of `Saturator::curve`.
enum class SaturatorCurve : std::uint8_t { Tanh = 0, HardClip = 1, AsymmetricTanh = 2, BoostedTanh = 3 };

class Saturator {
public:
    // tanh(1.5) and tanh(2) in float, the normalisers of the asymmetric curve.
    static constexpr float tanh_1_5 = 0.9051483f;
    static constexpr float tanh_2 = 0.9640276f;

    // tanh curve, drive 0 (pass-through), mix 1.
    Saturator() noexcept = default;
    // Curve index as set_curve; drive and mix clamped to 0..1.
    explicit Saturator(SaturatorCurve c, float drive_amount = 0.0f, float mix_amount = 1.0f) noexcept;

    // drive = clamp(x, 0, 1).
    void set_drive(float x) noexcept { drive = clamp(x, 0.0f, 1.0f); }
    // mix = clamp(x, 0, 1), the wet share.
    void set_mix(float x) noexcept { mix = clamp(x, 0.0f, 1.0f); }
    // Curve index 0..3; any other index gives tanh (0).
    void set_curve(std::uint8_t index) noexcept { curve = index < 4 ? index : std::uint8_t{0}; }
    void set_curve(SaturatorCurve c) noexcept { curve = static_cast<std::uint8_t>(c); }
    // Holds no running state; present so every block can be reset alike.
    void reset() noexcept {}

    // One value (see above).
    float process(float x) const noexcept
    {
        if (drive < 0.001f) {
            return x;
        }
        const float g = (4.0f * drive + 1.0f) * x;
        float y;
        switch (curve) {
        case 1: y = clamp(g, -1.0f, 1.0f); break;
        case 2: y = g >= 0.0f ? std::tanh(1.5f * g) / tanh_1_5 : std::tanh(2.0f * g) / tanh_2; break;
        case 3: y = std::tanh(g + 0.2f * g * std::fabs(g)); break;
        default: y = std::tanh(g); break;
        }
        return (y * drive + (1.0f - drive) * x) * mix + (1.0f - mix) * x;
    }

    float drive = 0.0f;        // 0..1; below 0.001 the input passes
    float mix = 1.0f;          // wet share 0..1
    std::uint8_t curve = 0;    // SaturatorCurve index; unknown values act as tanh
};

// ---------------------------------------------------------------------------

inline Saturator::Saturator(SaturatorCurve c, float drive_amount, float mix_amount) noexcept
{
    set_curve(c);
    set_drive(drive_amount);
    set_mix(mix_amount);
}

} // namespace dsp_kit
