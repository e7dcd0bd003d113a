#include "dsp_kit/oscillator/oscillator_bank.hpp"

#include <immintrin.h>

#include <cmath>
#include <cstdint>

#include "dsp_kit/primitives/fast_exp2.hpp"

namespace dsp_kit {

namespace {

using VoiceArrays = OscillatorBank::VoiceArrays;

// Golden-ratio start phase of voice i: frac(i · 0.618034).
float golden_phase(std::size_t i) noexcept
{
    const float v = static_cast<float>(i) * 0.618034f;
    return v - std::floor(v);
}

// Lanes in use: for a bank of n voices, lane i + j is in use where
// lane_table[16 − n + i + j] is all ones (sixteen ones, then sixteen zeros).
alignas(64) constexpr std::int32_t lane_table[32] = {
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
};

const std::int32_t* lane_mask(std::size_t n, std::size_t i) noexcept
{
    return lane_table + (OscillatorBank::max_voices - n + i);
}

// The second wrap of Oscillator::advance, for lanes that are still at 1 or
// above after subtracting 1 (an increment of a cycle or more per sample,
// or a phase written from outside): subtract the whole part.
[[gnu::noinline, gnu::cold]] void wrap_whole_cycles(float* phase, std::size_t lanes) noexcept
{
    for (std::size_t j = 0; j < lanes; ++j) {
        if (phase[j] >= 1.0f) {
            phase[j] -= std::floor(phase[j]);
        }
    }
}

// Mean of the voices from two partial sums, in the order of the header:
// lo_j holds s_j + s_(j+8), hi_j holds s_(j+4) + s_(j+12).
inline float mean_of(__m128 lo, __m128 hi, std::size_t n) noexcept
{
    const __m128 t = _mm_add_ps(lo, hi);
    const __m128 half = _mm_add_ps(t, _mm_movehl_ps(t, t)); // t0 + t2, t1 + t3
    const __m128 total = _mm_add_ss(half, _mm_shuffle_ps(half, half, 1));
    return _mm_cvtss_f32(total) / static_cast<float>(static_cast<int>(n)); // n <= 16
}

// ---------------------------------------------------------------------------
// SSE2 kernel: four voices at a time.

__m128 lanes4(std::size_t n, std::size_t i) noexcept
{
    return _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lane_mask(n, i))));
}

// Oscillator::advance on voices i..i+3; returns their phases before the step.
inline __m128 advance4(VoiceArrays& v, std::size_t i) noexcept
{
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 before = _mm_load_ps(&v.phase[i]);
    __m128 p = _mm_add_ps(before, _mm_load_ps(&v.phase_increment[i]));
    p = _mm_sub_ps(p, _mm_and_ps(_mm_cmpge_ps(p, one), one));
    _mm_store_ps(&v.phase[i], p);
    if (_mm_movemask_ps(_mm_cmpge_ps(p, one)) != 0) {
        wrap_whole_cycles(&v.phase[i], 4);
    }
    return before;
}

} // namespace

float OscillatorBank::step_sse2(VoiceArrays& v, std::size_t n) noexcept
{
    const __m128 turn = _mm_set1_ps(two_pi);
    const __m128 zero = _mm_setzero_ps();
    __m128 lo = sin4(_mm_mul_ps(turn, advance4(v, 0)));
    __m128 hi = n > 4 ? sin4(_mm_mul_ps(turn, advance4(v, 4))) : zero;
    if (n > 8) {
        // Voices 12..15 not in use add +0, as in the eight-lane kernel.
        lo = _mm_add_ps(lo, sin4(_mm_mul_ps(turn, advance4(v, 8))));
        hi = _mm_add_ps(hi, n > 12 ? sin4(_mm_mul_ps(turn, advance4(v, 12))) : zero);
    }
    return mean_of(lo, hi, n);
}

namespace {

// Voices i..i+3 at max(f, 0) Hz and increment f / rate; lanes not in use 0.
// maxps returns its second operand when either is NaN, so NaN gives 0 as
// non_negative does.
inline void set_voices4(VoiceArrays& v, std::size_t i, __m128 f, __m128 rate, __m128 in_use) noexcept
{
    f = _mm_and_ps(_mm_max_ps(f, _mm_setzero_ps()), in_use);
    _mm_store_ps(&v.frequency[i], f);
    _mm_store_ps(&v.phase_increment[i], _mm_and_ps(_mm_div_ps(f, rate), in_use));
}

void voice_law_sse2(OscillatorBank& b) noexcept
{
    const __m128 base = _mm_set1_ps(b.frequency);
    const __m128 rate = _mm_set1_ps(b.sample_rate);
    for (std::size_t i = 0; i < b.voice_count; i += 4) {
        const __m128 f = _mm_mul_ps(base, _mm_load_ps(&b.voice_ratios[i]));
        set_voices4(b.oscillators, i, f, rate, lanes4(b.voice_count, i));
    }
}

void drift_sse2(OscillatorBank& b, float depth, float step) noexcept
{
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 turn = _mm_set1_ps(two_pi);
    const __m128 base = _mm_set1_ps(b.frequency);
    const __m128 rate = _mm_set1_ps(b.sample_rate);
    const __m128 d = _mm_set1_ps(depth);
    const __m128 dt = _mm_set1_ps(step);
    for (std::size_t i = 0; i < b.voice_count; i += 4) {
        const __m128 in_use = lanes4(b.voice_count, i);
        __m128 p = _mm_add_ps(_mm_load_ps(&b.drift_phases[i]), _mm_mul_ps(_mm_load_ps(&b.drift_rates[i]), dt));
        p = _mm_sub_ps(p, _mm_and_ps(_mm_cmpge_ps(p, one), one));
        p = _mm_and_ps(p, in_use);
        _mm_store_ps(&b.drift_phases[i], p);
        const __m128 offset = _mm_mul_ps(sin4(_mm_mul_ps(turn, p)), d);
        const __m128 f = _mm_add_ps(_mm_mul_ps(base, _mm_load_ps(&b.voice_ratios[i])), offset);
        set_voices4(b.oscillators, i, f, rate, in_use);
    }
}

// fast_exp2(r_i · spread) from the cached positions r_i.
void ratios_sse2(OscillatorBank& b, const float* positions) noexcept
{
    const __m128 s = _mm_set1_ps(b.spread);
    for (std::size_t i = 0; i < b.voice_count; i += 4) {
        const __m128 r = _mm_load_ps(positions + i);
        _mm_store_ps(&b.voice_ratios[i], _mm_and_ps(fast_exp2_4(_mm_mul_ps(r, s)), lanes4(b.voice_count, i)));
    }
}

// ---------------------------------------------------------------------------
// AVX2 kernel: eight voices at a time, lane for lane the operations of the
// SSE2 kernel. Run only where fastest_kernel() found AVX2.

[[gnu::target("avx2")]] __m256 lanes8(std::size_t n, std::size_t i) noexcept
{
    return _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(lane_mask(n, i))));
}

// fast_exp2_4 on eight lanes: the same floor, cubic and exponent field.
[[gnu::target("avx2")]] inline __m256 fast_exp2_8(__m256 x) noexcept
{
    const __m256 abs_mask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256 big = _mm256_cmp_ps(_mm256_and_ps(x, abs_mask), _mm256_set1_ps(8388608.0f), _CMP_GE_OQ);
    const __m256 unordered = _mm256_cmp_ps(x, x, _CMP_UNORD_Q);
    const __m256 keep = _mm256_or_ps(big, unordered);
    __m256 t = _mm256_cvtepi32_ps(_mm256_cvttps_epi32(x));
    t = _mm256_sub_ps(t, _mm256_and_ps(_mm256_cmp_ps(t, x, _CMP_GT_OQ), _mm256_set1_ps(1.0f)));
    const __m256 zero_in = _mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_EQ_OQ);
    const __m256 pass = _mm256_or_ps(keep, zero_in);
    const __m256 n = _mm256_or_ps(_mm256_and_ps(pass, x), _mm256_andnot_ps(pass, t));
    const __m256 f = _mm256_sub_ps(x, n);
    __m256 p = _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(0.07944154f), f), _mm256_set1_ps(0.22741129f));
    p = _mm256_add_ps(_mm256_mul_ps(p, f), _mm256_set1_ps(0.69680786f));
    p = _mm256_add_ps(_mm256_mul_ps(p, f), _mm256_set1_ps(0.9998465f));

    __m256i whole = _mm256_cvttps_epi32(n);
    const __m256i too_big = _mm256_castps_si256(_mm256_cmp_ps(n, _mm256_set1_ps(2147483648.0f), _CMP_GE_OQ));
    whole = _mm256_or_si256(_mm256_andnot_si256(too_big, whole), _mm256_and_si256(too_big, _mm256_set1_epi32(INT32_MAX)));
    whole = _mm256_andnot_si256(_mm256_castps_si256(_mm256_cmp_ps(n, n, _CMP_UNORD_Q)), whole);
    const __m256i bits = _mm256_add_epi32(_mm256_slli_epi32(whole, 23), _mm256_set1_epi32(0x3F800000));
    return _mm256_mul_ps(_mm256_castsi256_ps(bits), p);
}

[[gnu::target("avx2")]] inline __m256 advance8(VoiceArrays& v, std::size_t i) noexcept
{
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 before = _mm256_load_ps(&v.phase[i]);
    __m256 p = _mm256_add_ps(before, _mm256_load_ps(&v.phase_increment[i]));
    p = _mm256_sub_ps(p, _mm256_and_ps(_mm256_cmp_ps(p, one, _CMP_GE_OQ), one));
    _mm256_store_ps(&v.phase[i], p);
    if (_mm256_movemask_ps(_mm256_cmp_ps(p, one, _CMP_GE_OQ)) != 0) {
        wrap_whole_cycles(&v.phase[i], 8);
    }
    return before;
}

} // namespace

[[gnu::target("avx2")]] float OscillatorBank::step_avx2(VoiceArrays& v, std::size_t n) noexcept
{
    const __m256 turn = _mm256_set1_ps(two_pi);
    __m256 sum = sin8(_mm256_mul_ps(turn, advance8(v, 0)));
    if (n > 8) {
        sum = _mm256_add_ps(sum, sin8(_mm256_mul_ps(turn, advance8(v, 8))));
    }
    return mean_of(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1), n);
}

namespace {

[[gnu::target("avx2")]] inline void set_voices8(VoiceArrays& v, std::size_t i, __m256 f, __m256 rate,
                                                 __m256 in_use) noexcept
{
    f = _mm256_and_ps(_mm256_max_ps(f, _mm256_setzero_ps()), in_use);
    _mm256_store_ps(&v.frequency[i], f);
    _mm256_store_ps(&v.phase_increment[i], _mm256_and_ps(_mm256_div_ps(f, rate), in_use));
}

[[gnu::target("avx2")]] void voice_law_avx2(OscillatorBank& b) noexcept
{
    const __m256 base = _mm256_set1_ps(b.frequency);
    const __m256 rate = _mm256_set1_ps(b.sample_rate);
    for (std::size_t i = 0; i < b.voice_count; i += 8) {
        const __m256 f = _mm256_mul_ps(base, _mm256_load_ps(&b.voice_ratios[i]));
        set_voices8(b.oscillators, i, f, rate, lanes8(b.voice_count, i));
    }
}

[[gnu::target("avx2")]] void drift_avx2(OscillatorBank& b, float depth, float step) noexcept
{
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 turn = _mm256_set1_ps(two_pi);
    const __m256 base = _mm256_set1_ps(b.frequency);
    const __m256 rate = _mm256_set1_ps(b.sample_rate);
    const __m256 d = _mm256_set1_ps(depth);
    const __m256 dt = _mm256_set1_ps(step);
    for (std::size_t i = 0; i < b.voice_count; i += 8) {
        const __m256 in_use = lanes8(b.voice_count, i);
        __m256 p =
            _mm256_add_ps(_mm256_load_ps(&b.drift_phases[i]), _mm256_mul_ps(_mm256_load_ps(&b.drift_rates[i]), dt));
        p = _mm256_sub_ps(p, _mm256_and_ps(_mm256_cmp_ps(p, one, _CMP_GE_OQ), one));
        p = _mm256_and_ps(p, in_use);
        _mm256_store_ps(&b.drift_phases[i], p);
        const __m256 offset = _mm256_mul_ps(sin8(_mm256_mul_ps(turn, p)), d);
        const __m256 f = _mm256_add_ps(_mm256_mul_ps(base, _mm256_load_ps(&b.voice_ratios[i])), offset);
        set_voices8(b.oscillators, i, f, rate, in_use);
    }
}

[[gnu::target("avx2")]] void ratios_avx2(OscillatorBank& b, const float* positions) noexcept
{
    const __m256 s = _mm256_set1_ps(b.spread);
    for (std::size_t i = 0; i < b.voice_count; i += 8) {
        const __m256 r = _mm256_load_ps(positions + i);
        _mm256_store_ps(&b.voice_ratios[i], _mm256_and_ps(fast_exp2_8(_mm256_mul_ps(r, s)), lanes8(b.voice_count, i)));
    }
}

} // namespace

OscillatorBank::Kernel OscillatorBank::fastest_kernel() noexcept
{
    static const Kernel fastest = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? Kernel::Avx2 : Kernel::Sse2;
    }();
    return fastest;
}

OscillatorBank::OscillatorBank(std::size_t count, float sample_rate_hz) noexcept
    : voice_count(clamp_voice_count(count))
    , sample_rate(sample_rate_hz)
    , active_kernel(fastest_kernel())
{
    for (std::size_t i = 0; i < voice_count; ++i) {
        oscillators.phase[i] = golden_phase(i);
        drift_phases[i] = 0.1f * static_cast<float>(i);
        drift_rates[i] = 0.1f + 0.03f * static_cast<float>(i);
        positions[i] = voice_position(i);
    }
    update_voice_ratios();
    apply_voice_law();
}

void OscillatorBank::rebuild(std::size_t count) noexcept
{
    const Kernel k = active_kernel;
    *this = OscillatorBank(count, sample_rate);
    active_kernel = k;
}

void OscillatorBank::use_kernel(Kernel k) noexcept
{
    active_kernel = k == Kernel::Avx2 ? fastest_kernel() : Kernel::Sse2;
}

float OscillatorBank::voice_position(std::size_t i) const noexcept
{
    return 2.0f * static_cast<float>(i) / static_cast<float>(voice_count - 1) - 1.0f;
}

void OscillatorBank::update_voice_ratios() noexcept
{
    if (active_kernel == Kernel::Avx2) {
        ratios_avx2(*this, positions.data());
    } else {
        ratios_sse2(*this, positions.data());
    }
}

void OscillatorBank::apply_voice_law() noexcept
{
    if (active_kernel == Kernel::Avx2) {
        voice_law_avx2(*this);
    } else {
        voice_law_sse2(*this);
    }
}

void OscillatorBank::copy_tuning_from(const OscillatorBank& other) noexcept
{
    sample_rate = other.sample_rate;
    frequency = other.frequency;
    spread = other.spread;
    drift = other.drift;
    if (other.voice_count == voice_count) {
        voice_ratios = other.voice_ratios;
        oscillators.frequency = other.oscillators.frequency;
        oscillators.phase_increment = other.oscillators.phase_increment;
    } else {
        // Another count places its voices elsewhere: copying them would also
        // start lanes this bank does not use.
        update_voice_ratios();
        apply_voice_law();
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

void OscillatorBank::set_frequency_and_spread(float f, float x) noexcept
{
    frequency = non_negative(f);
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
    apply_voice_law();
}

void OscillatorBank::reset() noexcept
{
    for (std::size_t i = 0; i < voice_count; ++i) {
        oscillators.phase[i] = golden_phase(i);
    }
}

void OscillatorBank::apply_drift() noexcept
{
    const float depth = drift * frequency * 0.01f;
    const float step = 32.0f / sample_rate;
    if (active_kernel == Kernel::Avx2) {
        drift_avx2(*this, depth, step);
    } else {
        drift_sse2(*this, depth, step);
    }
}

} // namespace dsp_kit
