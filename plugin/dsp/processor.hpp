#pragma once
// The Tessellgrove sound engine: one stereo frame at a time through
// input gain -> ring modulation by the carriers -> character stage -> comb
// -> trigger gate -> dry/wet and output gain -> width -> output safety, with
// the lock-motion, mode-cycle and trigger modulators and the envelope push
// running beside the path.
//
// Settings are public members written once per block by
// `update_processor_params` (mapping.hpp) and read per sample. Everything
// per sample runs on the audio thread, is noexcept and never allocates;
// only construction, `set_sample_rate` (comb buffers) and
// `set_swarm_count` with a new count (bank rebuild, in place) touch storage.
//
// Shared carrier: the two carriers always receive the same settings and
// start from the same state, so they produce the same signal. `process`
// therefore runs only the left carrier's generator and multiplies both
// channels by its value; every setting still reaches both carriers as it
// changes, but the right carrier's running state (phases, filter memory,
// drift state) stands still during the frames and is brought level with
// the left one (`sync_right_carrier`, a plain copy) before anything else
// uses it: the next block's parameter update, `reset`, `set_sample_rate`,
// `set_swarm_count` and `process_two_carriers`. `process_two_carriers` runs
// both carriers each on its own, as the straightforward frame does; tests
// prove the two paths give bit-identical output.
//
// Block path: `process_block`, which the plug-in runs, computes a run of
// frames stage by stage instead of frame by frame, so that the sines of
// the Stoch oscillator, the saturation curves and the output stage take
// several frames (and both channels) at a time. It runs the left carrier
// only (settings included; the right one is brought level by the same
// copy) and gives the same floats as `process` on each frame in turn.

#include <cstddef>
#include <cstdint>
#include <utility>

#include "dsp_kit/filter/comb_filter.hpp"
#include "dsp_kit/modulation/ring_modulator.hpp"
#include "dsp_kit/primitives/envelope_follower.hpp"
#include "dsp_kit/primitives/lfo.hpp"
#include "dsp_kit/primitives/one_pole.hpp"
#include "dsp_kit/saturation/saturator.hpp"
#include "dsp_kit/saturation/wavefolder.hpp"
#include "plugin/dsp/carrier.hpp"

namespace tessellgrove {

// Character mode indices, shared with the parameter `char_mode`.
enum class CharacterMode : uint8_t { Clean = 0, Grit = 1, Warm = 2, Fold = 3 };

class TessellgroveProcessor {
public:
    // `pending_character_mode` value meaning "no change waiting".
    static constexpr uint8_t no_pending_mode = 4;
    // Longest run `process_block` computes stage by stage (stack arrays).
    static constexpr std::size_t chunk_frames = 32;

    // Builds every component at `sample_rate` (Hz).
    explicit TessellgroveProcessor(float sample_rate);

    // Re-targets every component to a new rate; replaces the comb buffers.
    void set_sample_rate(float sample_rate);
    // Clears running state (phases, filter and delay memory, mode cycle,
    // pending character change); settings and held modulator values stay.
    void reset() noexcept;
    // Voices per swarm bank, raised to 2 and limited to 16; the banks are
    // rebuilt (fresh phases) only when the count actually changes.
    void set_swarm_count(std::size_t count) noexcept;
    // Host transport state, once per block before the parameter update.
    void set_playing(bool is_playing) noexcept;
    // One stereo frame; returns (left, right), finite and within ±4.
    std::pair<float, float> process(float left, float right) noexcept;
    // `count` frames in place, in runs of up to `chunk_frames`: bit for bit
    // what `process` gives frame by frame, computed stage by stage over each
    // run so that sines, saturation and the output stages are taken several
    // frames (and both channels) at a time.
    void process_block(float* left, float* right, std::size_t count) noexcept;
    // The same frame with each carrier advanced on its own (the reference
    // for the shared-carrier path; same output bit for bit).
    std::pair<float, float> process_two_carriers(float left, float right) noexcept;
    // Copies the left carrier's running state into the right one if the
    // shared path has left it behind; cheap when nothing is pending.
    void sync_right_carrier() noexcept;
    // Whether the right carrier's running state lags behind the left one.
    bool right_carrier_lagging() const noexcept { return right_carrier_stale; }

    // Components.
    Carrier carrier_left;
    Carrier carrier_right;
    dsp_kit::CombFilter comb_left;
    dsp_kit::CombFilter comb_right;
    dsp_kit::Wavefolder wavefolder;
    float fold_gain = 1.0f;               // gain in front of the wavefolder
    dsp_kit::Saturator grit_saturator;    // hard clip
    dsp_kit::Saturator warm_saturator;    // tanh with squared boost
    dsp_kit::OnePole grit_tone;           // high-pass part above ~2 kHz
    dsp_kit::OnePole warm_tone;           // low-pass part below ~300 Hz
    dsp_kit::RingModulator ring_modulator;
    dsp_kit::Lfo trigger_lfo;             // square, drives the gate
    dsp_kit::Lfo lock_lfo;                // moves the carrier frequency
    dsp_kit::Lfo cycle_lfo;               // saw, steps the carrier mode
    dsp_kit::EnvelopeFollower envelope;   // input level for the envelope push

    // Settings (written by the mapping once per block).
    float input_gain = 1.0f;              // linear
    float mix = 0.5f;                     // dry/wet, 0 = dry only
    float output_gain = 1.0f;             // linear
    float stereo_width = 1.0f;            // side factor, 0..2
    float character_amount = 0.5f;        // 0..1
    uint8_t character_mode = 0;           // CharacterMode index
    uint8_t pending_character_mode = no_pending_mode;
    float trig_amount = 0.0f;             // gate depth, 0..1
    float tempo = 120.0f;                 // BPM, 20..300
    bool lock_motion_enabled = false;
    float lock_depth = 0.5f;              // 0..1, ±2 octaves at 1
    float lock_freq = 440.0f;             // carrier base frequency, Hz
    float env_amount = 0.0f;              // envelope push amount, 0..1
    float formant_position_base = 0.5f;   // the five bases are the user's
    float stoch_spread_base = 0.3f;       // values before the envelope push
    float stoch_density_base = 0.5f;
    float swarm_drift_base = 0.3f;
    float swarm_spread_base = 0.2f;
    bool mode_cycle_enabled = false;
    uint8_t trig_div_index = 1;           // 0..3
    uint8_t cycle_div_index = 0;          // 0..3

    // State.
    float sample_rate;                    // Hz
    uint64_t cycle_count = 0;             // mode-cycle position, 0..2
    bool cycle_was_positive = false;      // last cycle modulator value >= 0
    bool playing = false;                 // host transport, from set_playing
    uint32_t grid_counter = 0;            // samples since the last boundary
    uint32_t grid_period;                 // half a beat at `tempo`, samples

private:
    template <bool SharedCarrier>
    std::pair<float, float> frame(float left, float right) noexcept;
    template <bool SharedCarrier>
    void apply_envelope_push(float left, float right) noexcept;

    bool right_carrier_stale = false;     // right carrier's phases lag the left
    void apply_character(float& left, float& right) noexcept;

    // Frame head: the half-beat grid and the mode cycle.
    void advance_grid() noexcept;
    void advance_mode_cycle() noexcept;
    // Block path: one run of at most chunk_frames frames.
    void process_chunk(float* left, float* right, std::size_t count) noexcept;
    // Left carrier over frames [begin, end) of a chunk, all in its current
    // mode, into out[begin, end); lock_hz / push per frame or null.
    void run_carrier(std::size_t begin, std::size_t end, const float* lock_hz, const float* push,
                     float* out) noexcept;
    // The envelope push of one frame on the left carrier alone.
    void push_left_carrier(float e) noexcept;
    // Character stage over `count` frames of one mode, in place.
    void apply_character_run(uint8_t mode, float* left, float* right, std::size_t count) noexcept;
};

} // namespace tessellgrove
