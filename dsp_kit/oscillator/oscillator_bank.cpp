#include "dsp_kit/oscillator/oscillator_bank.hpp"

#include <cmath>

#include "dsp_kit/primitives/fast_exp2.hpp"

namespace dsp_kit {

namespace {

// Golden-ratio start phase of voice i: frac(i · 0.618034).
float golden_phase(std::size_t i) noexcept
{
    const float v = static_cast<float>(i) * 0.618034f;
    return v - std::floor(v);
}

} // namespace

OscillatorBank::OscillatorBank(std::size_t count, float sample_rate_hz) noexcept
    : voice_count(clamp_voice_count(count))
    , sample_rate(sample_rate_hz)
{
    for (std::size_t i = 0; i < voice_count; ++i) {
        oscillators[i] = Oscillator(sample_rate_hz, 440.0f, golden_phase(i));
        drift_phases[i] = 0.1f * static_cast<float>(i);
        drift_rates[i] = 0.1f + 0.03f * static_cast<float>(i);
    }
    update_voice_ratios();
    apply_voice_law();
}

float OscillatorBank::voice_position(std::size_t i) const noexcept
{
    return 2.0f * static_cast<float>(i) / static_cast<float>(voice_count - 1) - 1.0f;
}

void OscillatorBank::update_voice_ratios() noexcept
{
    // Four voices at a time, the same operations as voice_position and
    // fast_exp2 (so the same floats): r_i = 2·i / (n − 1) − 1.
    const __m128 last = _mm_set1_ps(static_cast<float>(voice_count - 1));
    const __m128 s = _mm_set1_ps(spread);
    for (std::size_t i = 0; i < voice_count; i += 4) {
        const float base = static_cast<float>(i);
        const __m128 index = _mm_add_ps(_mm_set1_ps(base), _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f));
        const __m128 r = _mm_sub_ps(_mm_div_ps(_mm_mul_ps(_mm_set1_ps(2.0f), index), last), _mm_set1_ps(1.0f));
        _mm_storeu_ps(&voice_ratios[i], fast_exp2_4(_mm_mul_ps(r, s)));
    }
}

void OscillatorBank::apply_voice_law(const float* offsets) noexcept
{
    // Four voices at a time; IEEE multiply, add, max and divide give the
    // same floats as the voice-by-voice formula. Inputs are gathered into
    // registers directly: narrow stores read back as one wide load would
    // stall on store forwarding.
    const __m128 base = _mm_set1_ps(frequency);
    const __m128 zero = _mm_setzero_ps();
    const auto rate = [this](std::size_t i) { return i < voice_count ? oscillators[i].sample_rate : 1.0f; };
    for (std::size_t i = 0; i < voice_count; i += 4) {
        __m128 f = _mm_mul_ps(base, _mm_loadu_ps(&voice_ratios[i]));
        if (offsets != nullptr) {
            f = _mm_add_ps(f, _mm_loadu_ps(offsets + i));
        }
        // max(f, 0) with NaN giving 0, as non_negative: maxps returns its
        // second operand when either is NaN or both are zeros.
        f = _mm_max_ps(f, zero);
        const __m128 inc = _mm_div_ps(f, _mm_setr_ps(rate(i), rate(i + 1), rate(i + 2), rate(i + 3)));
        alignas(16) float hz[4];
        alignas(16) float increments[4];
        _mm_store_ps(hz, f);
        _mm_store_ps(increments, inc);
        const std::size_t lanes = voice_count - i < 4 ? voice_count - i : 4;
        for (std::size_t j = 0; j < lanes; ++j) {
            oscillators[i + j].frequency = hz[j];
            oscillators[i + j].phase_increment = increments[j];
        }
    }
}

void OscillatorBank::copy_tuning_from(const OscillatorBank& other) noexcept
{
    sample_rate = other.sample_rate;
    frequency = other.frequency;
    spread = other.spread;
    drift = other.drift;
    voice_ratios = other.voice_ratios;
    for (std::size_t i = 0; i < voice_count; ++i) {
        oscillators[i].sample_rate = other.oscillators[i].sample_rate;
        oscillators[i].frequency = other.oscillators[i].frequency;
        oscillators[i].phase_increment = other.oscillators[i].phase_increment;
    }
}

void OscillatorBank::set_frequency(float f) noexcept
{
    frequency = non_negative(f);
    apply_voice_law();
}

void OscillatorBank::set_spread(float x) noexcept
{
    const float s = clamp(x, 0.0f, 1.0f);
    if (s != spread) {
        spread = s;
        update_voice_ratios();
    }
    apply_voice_law();
}

void OscillatorBank::set_drift(float x) noexcept
{
    drift = clamp(x, 0.0f, 1.0f);
}

void OscillatorBank::set_sample_rate(float sr) noexcept
{
    sample_rate = sr;
    for (std::size_t i = 0; i < voice_count; ++i) {
        oscillators[i].set_sample_rate(sr);
    }
    apply_voice_law();
}

void OscillatorBank::reset() noexcept
{
    for (std::size_t i = 0; i < voice_count; ++i) {
        oscillators[i].phase = golden_phase(i);
    }
}

void OscillatorBank::apply_drift() noexcept
{
    const float depth = drift * frequency * 0.01f;
    const float step = 32.0f / sample_rate;
    // Offsets m_i · depth, four voices at a time (unused lanes give 0).
    alignas(16) std::array<float, max_voices> offsets{};
    const __m128 turn = _mm_set1_ps(two_pi);
    const __m128 d = _mm_set1_ps(depth);
    const auto next_phase = [this, step](std::size_t i) {
        if (i >= voice_count) {
            return 0.0f;
        }
        float p = drift_phases[i] + drift_rates[i] * step;
        if (p >= 1.0f) {
            p -= 1.0f;
        }
        drift_phases[i] = p;
        return p;
    };
    for (std::size_t i = 0; i < voice_count; i += 4) {
        const float p0 = next_phase(i);
        const float p1 = next_phase(i + 1);
        const float p2 = next_phase(i + 2);
        const float p3 = next_phase(i + 3);
        const __m128 m = sin4(_mm_mul_ps(turn, _mm_setr_ps(p0, p1, p2, p3)));
        _mm_store_ps(&offsets[i], _mm_mul_ps(m, d));
    }
    apply_voice_law(offsets.data());
}

} // namespace dsp_kit
