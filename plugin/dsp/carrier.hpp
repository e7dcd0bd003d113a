#pragma once
// One channel's ring-modulator carrier: three generators ("Formant", "Stoch",
// "Swarm"), of which only the one selected by `mode` runs each sample.
//
// Settings are plain members written by the parameter mapping and the
// engine's envelope push together with the component calls they imply (see
// the setters below). Audio thread only; nothing here allocates (the
// oscillator bank holds storage for 16 voices by value).

#include <cstdint>

#include "dsp_kit/formant/formant_filter.hpp"
#include "dsp_kit/oscillator/oscillator_bank.hpp"
#include "dsp_kit/oscillator/sample_and_hold.hpp"
#include "dsp_kit/primitives/lfo.hpp"
#include "dsp_kit/primitives/oscillator.hpp"

namespace tessellgrove {

// Carrier mode indices, shared with the parameter `carrier_mode`.
enum class CarrierMode : uint8_t { Formant = 0, Stoch = 1, Swarm = 2 };

class Carrier {
public:
    // "Formant" output scale: brings the narrow bands up to level.
    static constexpr float formant_scale = 8.0f;
    // "Swarm" output scale: the voice mean sits below full scale.
    static constexpr float swarm_scale = 1.2f;
    // The formant sweep runs only above this rate, Hz.
    static constexpr float morph_threshold = 0.001f;

    // Builds every generator at `sample_rate` with 4 swarm voices at 440 Hz.
    explicit Carrier(float sample_rate);

    // Carrier frequency in Hz (callers pass 40..5000): both sines and the bank.
    void set_frequency(float f) noexcept;
    // Mirrors of the setters for a carrier known to have the same settings
    // as `leader` (the engine's right carrier under the shared-carrier
    // frame): they copy the results of leader's call with the same argument
    // instead of computing them again. Running state is not copied.
    //   copy_frequency_from: as set_frequency(leader.frequency).
    void copy_frequency_from(const Carrier& leader) noexcept;
    //   copy_formant_position_from: as set_formant_position(leader.formant_position);
    //   the formant filter's settings and coefficients follow, not its memory.
    void copy_formant_position_from(const Carrier& leader) noexcept;
    //   copy_swarm_from: as storing leader's swarm drift and spread and
    //   calling set_drift and set_spread on the bank with them.
    void copy_swarm_from(const Carrier& leader) noexcept;

    // The part of set_frequency(f) that concerns the generators `mode` does
    // not select: `frequency` and the idle generators' tuning. A block that
    // tunes the running generator itself frame by frame calls this once with
    // the last frequency, which leaves the carrier as the per-frame calls would.
    void retune_idle_generators(float f) noexcept;

    // Re-targets every generator to a new rate; allocates nothing.
    void set_sample_rate(float sr) noexcept;
    // Phases and filter state back to the start; settings and drift state kept.
    void reset() noexcept;

    // Stores the vowel position; it reaches the filter at once while the
    // formant sweep is off (rate <= 0.001 Hz); otherwise the sweep moves the
    // filter around it.
    void set_formant_position(float p) noexcept;
    // Stores the Stoch density and sets the clock to 49.5 * d + 0.5 Hz.
    void set_stoch_density(float d) noexcept;

    // One sample of the generator selected by `mode` ("Formant" already
    // scaled by 8, "Swarm" by 1.2); any unknown mode acts as "Formant".
    float next() noexcept;

    // One sample of each generator, unscaled except the Swarm factor 1.2.
    // The Stoch sine is sin1 (within 2 ulp of sinf, the same floats a block
    // of phases gives through sine_of_turns); the Formant sine is the C
    // library's sinf, because the vowel filter's narrow bands carry its
    // rounding forward: any other rounding of that sine, even by one ulp now
    // and then, moves their output by more than 1e-5 within seconds.
    float process_formant() noexcept;
    float process_stoch() noexcept;
    float process_swarm() noexcept;

    dsp_kit::OscillatorBank bank;          // Swarm generator
    dsp_kit::Lfo morph_lfo;                // sweeps the formant position (sine)
    dsp_kit::Oscillator formant_oscillator; // sine fed to the formant filter
    dsp_kit::Oscillator stoch_oscillator;  // sine of the Stoch generator
    dsp_kit::SampleAndHold sample_hold;    // random source of the Stoch generator
    dsp_kit::FormantFilter formant_filter; // three-band vowel filter

    float sample_rate;                 // Hz
    float frequency = 440.0f;          // carrier frequency, Hz
    float formant_position = 0.5f;     // vowel position in force, 0..1
    float formant_width = 0.5f;        // copy of the filter resonance
    float formant_morph_rate = 0.0f;   // Hz; the sweep runs only above 0.001
    float stoch_spread = 0.3f;         // 0..1, ±2 octaves at 1
    float stoch_density = 0.5f;        // 0..1, sets the clock rate
    float stoch_smoothing = 0.5f;      // copy of the sample-and-hold smoothing
    float swarm_spread = 0.2f;         // copy of the bank's spread
    float swarm_drift = 0.3f;          // copy of the bank's drift
    uint8_t mode = 0;                  // CarrierMode index
};

} // namespace tessellgrove
