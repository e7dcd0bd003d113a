#pragma once
// Reference copy of the straightforward scalar engine (two carriers each
// advanced on its own, one sinf per voice, voice law recomputed in full),
// kept only for tests to compare the production engine against. Do not
// optimise it: its value is that it is the plain arithmetic.
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

#include <array>
#include <cstddef>
#include <cstdint>

#include "plugin/dsp/tests/reference/oscillator.hpp"

namespace tessellgrove::reference {

using dsp_kit::clamp;
using dsp_kit::fast_exp2;
using dsp_kit::non_negative;
using dsp_kit::two_pi;

class OscillatorBank {
public:
    // Largest number of voices a bank can hold.
    static constexpr std::size_t max_voices = 16;
    // Smallest number of voices a bank runs.
    static constexpr std::size_t min_voices = 2;

    // Voice count a request gives: below 3 gives 2, above 16 gives 16.
    static constexpr std::size_t clamp_voice_count(std::size_t count) noexcept
    {
        return count < 3 ? min_voices : (count > max_voices ? max_voices : count);
    }

    // 4 voices at 44100 Hz.
    OscillatorBank() noexcept : OscillatorBank(4, 44100.0f) {}
    // clamp_voice_count(count) voices at 440 Hz, spread 0, drift 0, golden-ratio
    // phases, drift phases 0.1·i and drift rates 0.1 + 0.03·i Hz.
    OscillatorBank(std::size_t count, float sample_rate_hz) noexcept;

    // Re-initialises in place as a new bank of clamp_voice_count(count) voices
    // at the current sample rate (frequency 440, spread 0, drift 0).
    void rebuild(std::size_t count) noexcept { *this = OscillatorBank(count, sample_rate); }

    // frequency = max(f, 0), then every voice recomputed (drift term removed).
    void set_frequency(float f) noexcept;
    // spread = clamp(x, 0, 1) octaves, then every voice recomputed.
    void set_spread(float x) noexcept;
    // drift = clamp(x, 0, 1); nothing is recomputed until the next drift update.
    void set_drift(float x) noexcept;
    // Every voice re-targeted to sr, then recomputed.
    void set_sample_rate(float sr) noexcept;
    // Voice phases back to frac(i · 0.618034); frequencies, drift phases and
    // the drift counter are kept.
    void reset() noexcept;

    // One drift update: advances each drift modulator by 32 samples' time and
    // sets the voice frequencies including the drift term.
    void apply_drift() noexcept;

    // One sample: drift update every 32 samples while drift > 0, then the
    // mean of the voices' next values (voice order from 0).
    float process() noexcept;

    // Number of voices in use (2..16).
    std::size_t size() const noexcept { return voice_count; }
    // Position r_i of voice i in −1..+1.
    float voice_position(std::size_t i) const noexcept;

    std::array<Oscillator, max_voices> oscillators;   // the voices; [0, voice_count) in use
    std::array<float, max_voices> drift_phases{};     // drift modulator phases, cycles
    std::array<float, max_voices> drift_rates{};      // drift modulator rates, Hz
    std::size_t voice_count;                          // n, 2..16
    float sample_rate;                                // Hz
    float frequency = 440.0f;                         // base frequency, Hz, never negative
    float spread = 0.0f;                              // 0..1, half-width of the spread in octaves
    float drift = 0.0f;                               // 0..1, drift depth
    std::uint32_t drift_counter = 0;                  // samples since the last drift update

private:
    void apply_voice_law() noexcept;
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
    float sum = 0.0f;
    for (std::size_t i = 0; i < voice_count; ++i) {
        sum += oscillators[i].next();
    }
    return sum / static_cast<float>(voice_count);
}

} // namespace tessellgrove::reference
