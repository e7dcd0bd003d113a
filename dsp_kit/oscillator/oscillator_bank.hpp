#pragma once
// OscillatorBank: 2 to 16 sine voices spread evenly in log-frequency around
// a base frequency, each slowly drifting on its own sine, mixed to their mean.
//
// Voice i of n sits at r_i = 2i/(n − 1) − 1 (−1 .. +1) and runs at
//   frequency_i = max(frequency · fast_exp2(r_i · spread) + m_i · depth, 0)
// where the drift term m_i·depth (depth = drift · frequency · 0.01) is added
// only by apply_drift, every 32 samples while drift > 0. set_frequency,
// set_spread and set_sample_rate recompute the voices without the drift term.
// Voice phases start on the golden-ratio sequence frac(i · 0.618034) so the
// voices never start in phase.
//
// Storage for 16 voices is held by value, so the bank never touches the heap:
// re-initialising for another voice count is an assignment of a freshly built
// bank, `bank = OscillatorBank(n, sample_rate)` (or `bank.rebuild(n)`), which
// gives fresh phases and drift state exactly like a new bank of n voices.
// All methods are noexcept and allocation-free; audio thread.
//
// Layout: the voices are kept as arrays (phases, increments, frequencies,
// each 32-byte aligned), so the per-sample step loads, advances and stores
// several voices with one instruction each. Lanes from voice_count up to 16
// hold phase, increment and frequency 0 at all times: their sine is exactly
// +0, so a kernel may run them and add them without changing any sum.
// `oscillators[i]` reads voice i as one value (frequency, phase, increment).
//
// Kernels: the SSE2 kernel (every x86-64 processor) takes four voices at a
// time with sin4; the AVX2 kernel eight at a time with sin8, chosen when the
// bank is built if the processor has AVX2 (checked once per process). Both run the same IEEE operations
// per voice (no fused multiply-add), so they give the same floats:
//  - phase step, per voice exactly Oscillator::advance: phase += increment;
//    at 1 or above subtract 1; still at 1 or above subtract its floor;
//  - sum of the voices' sines s_0..s_15 (unused voices +0), in this order:
//      t_j = (s_j + s_(j+8)) + (s_(j+4) + s_(j+12))   for j = 0..3
//      sum = (t_0 + t_2) + (t_1 + t_3),   output = sum / n;
//  - voice law and drift step: the formulas above, one IEEE multiply, add,
//    max and divide per voice, the same floats as voice by voice.
// sin4/sin8 are within 2 ulp of sinf, so the output can differ from a
// voice-by-voice sinf sum in the last bits.
//
// Speed: the factor fast_exp2(r_i · spread) of every voice is kept in
// `voice_ratios` and recomputed only when the spread changes (from the
// positions r_i, kept per voice count), so a new base frequency (every
// frame under lock motion) costs one multiply and one divide per voice,
// eight voices at a time with AVX2. A caller moving frequency and spread in
// the same frame saves one recompute with set_frequency_and_spread.

#include <array>
#include <cstddef>
#include <cstdint>

#include "dsp_kit/primitives/math.hpp"
#include "dsp_kit/primitives/oscillator.hpp"
#include "dsp_kit/primitives/sine.hpp"

namespace dsp_kit {

class OscillatorBank {
public:
    // Largest number of voices a bank can hold.
    static constexpr std::size_t max_voices = 16;
    // Smallest number of voices a bank runs.
    static constexpr std::size_t min_voices = 2;

    // Instruction set a bank's per-sample and per-update loops use.
    enum class Kernel : std::uint8_t {
        Sse2, // four voices at a time; every x86-64 processor
        Avx2, // eight voices at a time; only where the processor has AVX2
    };

    // One voice as `oscillators[i]` reads it.
    struct Voice {
        float frequency;       // Hz, including the drift term
        float phase;           // cycles, 0 <= phase < 1
        float phase_increment; // frequency / sample_rate, cycles per sample
    };

    // The voices' state, one array per quantity (see Layout above).
    struct VoiceArrays {
        alignas(32) std::array<float, max_voices> phase{};           // cycles
        alignas(32) std::array<float, max_voices> phase_increment{}; // cycles per sample
        alignas(32) std::array<float, max_voices> frequency{};       // Hz

        // Voice i's values (a copy: write through the arrays).
        Voice operator[](std::size_t i) const noexcept { return {frequency[i], phase[i], phase_increment[i]}; }
    };

    // Voice count a request gives: below 3 gives 2, above 16 gives 16.
    static constexpr std::size_t clamp_voice_count(std::size_t count) noexcept
    {
        return count < 3 ? min_voices : (count > max_voices ? max_voices : count);
    }

    // The widest kernel this processor runs (checked once, then cached).
    static Kernel fastest_kernel() noexcept;

    // 4 voices at 44100 Hz.
    OscillatorBank() noexcept : OscillatorBank(4, 44100.0f) {}
    // clamp_voice_count(count) voices at 440 Hz, spread 0, drift 0, golden-ratio
    // phases, drift phases 0.1·i and drift rates 0.1 + 0.03·i Hz; the fastest
    // kernel.
    OscillatorBank(std::size_t count, float sample_rate_hz) noexcept;

    // Re-initialises in place as a new bank of clamp_voice_count(count) voices
    // at the current sample rate (frequency 440, spread 0, drift 0), on the
    // same kernel.
    void rebuild(std::size_t count) noexcept;

    // frequency = max(f, 0), then every voice recomputed (drift term removed).
    void set_frequency(float f) noexcept;
    // spread = clamp(x, 0, 1) octaves, then every voice recomputed.
    void set_spread(float x) noexcept;
    // set_frequency(f) then set_spread(x) with one recompute of the voices
    // instead of two (same floats): for callers that move both every frame.
    void set_frequency_and_spread(float f, float x) noexcept;
    // drift = clamp(x, 0, 1); nothing is recomputed until the next drift update.
    void set_drift(float x) noexcept;
    // Every voice re-targeted to sr, then recomputed.
    void set_sample_rate(float sr) noexcept;
    // Voice phases back to frac(i · 0.618034); frequencies, drift phases and
    // the drift counter are kept.
    void reset() noexcept;

    // Takes another bank's settings and voice tuning (sample rate, frequency,
    // spread, drift, voice ratios, every voice's frequency and increment)
    // without its running state (phases, drift phases, counter). For a bank
    // known to have received the same settings and voice count: the result
    // is what those setter calls would have given, at the cost of a copy.
    // With another voice count only the settings are taken and the voices
    // recomputed from them (without drift term).
    void copy_tuning_from(const OscillatorBank& other) noexcept;

    // One drift update: advances each drift modulator by 32 samples' time and
    // sets the voice frequencies including the drift term.
    void apply_drift() noexcept;

    // One sample: drift update every 32 samples while drift > 0, then the
    // mean of the voices' next values (summed in the order given above).
    float process() noexcept;

    // Runs this bank on kernel k from now on (Avx2 where the processor lacks
    // it gives Sse2). For tests and benchmarks comparing the kernels: both
    // give the same floats.
    void use_kernel(Kernel k) noexcept;
    // The kernel this bank runs.
    Kernel kernel() const noexcept { return active_kernel; }

    // Number of voices in use (2..16).
    std::size_t size() const noexcept { return voice_count; }
    // Position r_i of voice i in −1..+1.
    float voice_position(std::size_t i) const noexcept;

    VoiceArrays oscillators;                                  // the voices; [0, voice_count) in use
    alignas(32) std::array<float, max_voices> drift_phases{}; // drift modulator phases, cycles
    alignas(32) std::array<float, max_voices> drift_rates{};  // drift modulator rates, Hz
    alignas(32) std::array<float, max_voices> voice_ratios{}; // fast_exp2(r_i · spread), cached
    std::size_t voice_count;                                  // n, 2..16
    float sample_rate;                                        // Hz, every voice's rate
    float frequency = 440.0f;                                 // base frequency, Hz, never negative
    float spread = 0.0f;                                      // 0..1, half-width in octaves; write through
                                                              // set_spread (voice_ratios follow it)
    float drift = 0.0f;                                       // 0..1, drift depth
    std::uint32_t drift_counter = 0;                          // samples since the last drift update

private:
    // Every voice at max(frequency · voice_ratios[i], 0) Hz (no drift term).
    void apply_voice_law() noexcept;
    // voice_ratios from the current spread.
    void update_voice_ratios() noexcept;
    // Step every voice of v (n in use) and return the mean of their sines,
    // four or eight voices at a time.
    static float step_sse2(VoiceArrays& v, std::size_t n) noexcept;
    [[gnu::target("avx2")]] static float step_avx2(VoiceArrays& v, std::size_t n) noexcept;

    // r_i = voice_position(i) for the voices in use, 0 beyond: fixed by the
    // voice count, so a new spread costs no division.
    alignas(32) std::array<float, max_voices> positions{};
    Kernel active_kernel = Kernel::Sse2;
};

// ---------------------------------------------------------------------------

inline float OscillatorBank::process() noexcept
{
    if (drift > 0.0f) {
        drift_counter += 1;
        if (drift_counter > 31) {
            drift_counter = 0;
            apply_drift();
        }
    }
    return active_kernel == Kernel::Avx2 ? step_avx2(oscillators, voice_count) : step_sse2(oscillators, voice_count);
}

} // namespace dsp_kit
