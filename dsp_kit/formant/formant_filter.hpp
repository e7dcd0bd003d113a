#pragma once
// FormantFilter: three band-pass sections in parallel, tuned to the first
// three formants of a vowel position that moves through five vowels.
//
// Vowel table (Hz) at positions 0, 0.25, 0.5, 0.75, 1:
//   800/1200/2500, 400/2000/2550, 280/2250/2900, 450/800/2830, 325/700/2530,
// interpolated linearly between rows. Resonance r (0..1) scales the section
// q's 10/12/15 by 1.5·r + 0.5. Coefficients are recomputed only when the
// position or resonance moves by more than 0.001 from the value they were
// last computed for, so a slow sweep updates them in small steps.
//
// Output: x·(1 − mix) + 0.5·(y1 + 0.7·y2 + 0.4·y3)·mix; each band has unity
// gain at its centre. No heap storage; audio thread.

#include <array>

#include "dsp_kit/formant/biquad.hpp"

namespace dsp_kit {

class FormantFilter {
public:
    // Number of vowel rows in the table.
    static constexpr int vowel_rows = 5;
    // Formant frequencies F1, F2, F3 of each vowel row, Hz.
    static constexpr std::array<std::array<float, 3>, vowel_rows> vowel_table{{
        {{800.0f, 1200.0f, 2500.0f}},
        {{400.0f, 2000.0f, 2550.0f}},
        {{280.0f, 2250.0f, 2900.0f}},
        {{450.0f, 800.0f, 2830.0f}},
        {{325.0f, 700.0f, 2530.0f}},
    }};
    // Base q of sections 1, 2, 3 (scaled by 1.5·resonance + 0.5 on updates).
    static constexpr std::array<float, 3> base_q{{10.0f, 12.0f, 15.0f}};

    // Built at 44100 Hz.
    FormantFilter() noexcept : FormantFilter(44100.0f) {}
    // Sections at min(0.49·sr, 800/1200/2500) Hz with q 10/12/15, band-pass,
    // zero state; position 0, resonance 0.5, mix 1.
    explicit FormantFilter(float sample_rate_hz) noexcept;

    // position = clamp(x, 0, 1); coefficients follow only if it moved by more
    // than 0.001 from the position they were computed for.
    void set_position(float x) noexcept;
    // resonance = clamp(x, 0, 1); coefficients follow only if it moved by more
    // than 0.001 from the resonance they were computed for.
    void set_resonance(float x) noexcept;
    // Every section re-targeted to sr; coefficients always recomputed.
    void set_sample_rate(float sr) noexcept;
    // mix = clamp(x, 0, 1), the filtered share of the output.
    void set_mix(float x) noexcept;
    // Section states to 0; settings and coefficients kept.
    void reset() noexcept;

    // One sample (see above); below mix 0.001 the input passes unchanged.
    float process(float x) noexcept
    {
        if (mix < 0.001f) {
            return x;
        }
        const float y1 = sections[0].process(x);
        const float y2 = sections[1].process(x);
        const float y3 = sections[2].process(x);
        return x * (1.0f - mix) + 0.5f * (y1 + 0.7f * y2 + 0.4f * y3) * mix;
    }

    std::array<Biquad, 3> sections;                          // bands for F1, F2, F3
    float sample_rate;                                       // Hz
    std::array<float, 3> formants{{800.0f, 1200.0f, 2500.0f}}; // current F1, F2, F3, Hz
    float position = 0.0f;                                   // vowel position 0..1
    float last_position = 0.0f;                              // position of the current coefficients
    float resonance = 0.5f;                                  // 0..1
    float last_resonance = 0.5f;                             // resonance of the current coefficients
    float mix = 1.0f;                                        // filtered share 0..1

private:
    // Interpolates the vowel table at `position` and re-tunes the sections
    // for `resonance`; section states are kept.
    void update_formants() noexcept;
};

} // namespace dsp_kit
