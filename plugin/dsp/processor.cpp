#include "plugin/dsp/processor.hpp"

#include <algorithm>
#include <cmath>

#include "dsp_kit/primitives/fast_exp2.hpp"
#include "dsp_kit/primitives/sine_block.hpp"
#include "dsp_kit/primitives/soft_clip.hpp"
#include "plugin/dsp/sync.hpp"

namespace tessellgrove {

namespace {

constexpr float output_limit = 4.0f;

// Non-finite values become 0, everything else is limited to ±4.
float safe_output(float x) noexcept
{
    if (!std::isfinite(x)) {
        return 0.0f;
    }
    return std::clamp(x, -output_limit, output_limit);
}

// safe_output on four lanes, bit for bit: limited to ±4 by min/max (which
// keep x, signed zeros included, whenever it is in range), non-finite
// lanes (x − x is NaN there) to +0.
__m128 safe_output4(__m128 x) noexcept
{
    const __m128 finite = _mm_cmpeq_ps(_mm_sub_ps(x, x), _mm_setzero_ps());
    const __m128 limited = _mm_min_ps(_mm_max_ps(x, _mm_set1_ps(-output_limit)), _mm_set1_ps(output_limit));
    return _mm_and_ps(limited, finite);
}

// A host may hand over NaN or ±inf; feeding those into recursive state
// (envelope, tone filters, comb memory) would poison it until the next
// reset, so such a sample is taken as silence.
float sanitise_input(float x) noexcept
{
    return std::isfinite(x) ? x : 0.0f;
}

} // namespace

TessellgroveProcessor::TessellgroveProcessor(float sr)
    : carrier_left(sr),
      carrier_right(sr),
      comb_left(sr),
      comb_right(sr),
      wavefolder(0.5f, 2, 1.0f),
      grit_saturator(dsp_kit::SaturatorCurve::HardClip, 0.0f, 1.0f),
      warm_saturator(dsp_kit::SaturatorCurve::BoostedTanh, 0.0f, 1.0f),
      grit_tone(sr, 2000.0f, true),
      warm_tone(sr, 300.0f, false),
      ring_modulator(1.0f),
      trigger_lfo(sr, 4.0f, dsp_kit::LfoShape::Square),
      lock_lfo(sr, 2.0f, dsp_kit::LfoShape::Sine),
      cycle_lfo(sr, 2.0f, dsp_kit::LfoShape::Saw),
      envelope(sr, 10.0f, 100.0f),
      sample_rate(sr),
      grid_period(grid_period_samples(sr, 120.0f))
{}

void TessellgroveProcessor::sync_right_carrier() noexcept
{
    if (right_carrier_stale) {
        carrier_right = carrier_left;
        right_carrier_stale = false;
    }
}

void TessellgroveProcessor::set_sample_rate(float sr)
{
    sync_right_carrier();
    sample_rate = sr;
    carrier_left.set_sample_rate(sr);
    carrier_right.set_sample_rate(sr);
    grit_tone.set_sample_rate(sr);
    warm_tone.set_sample_rate(sr);
    comb_left.set_sample_rate(sr);
    comb_right.set_sample_rate(sr);
    trigger_lfo.set_sample_rate(sr);
    lock_lfo.set_sample_rate(sr);
    envelope.set_sample_rate(sr);
    cycle_lfo.set_sample_rate(sr);
    grid_period = grid_period_samples(sr, tempo);
}

void TessellgroveProcessor::reset() noexcept
{
    sync_right_carrier(); // drift state and held values survive a reset
    carrier_left.reset();
    carrier_right.reset();
    grit_tone.state = 0.0f;
    warm_tone.state = 0.0f;
    comb_left.reset();
    comb_right.reset();
    trigger_lfo.phase = 0.0f;
    lock_lfo.phase = 0.0f;
    cycle_lfo.phase = 0.0f;
    envelope.level = 0.0f;
    cycle_count = 0;
    cycle_was_positive = false;
    pending_character_mode = no_pending_mode;
    grid_counter = 0;
}

void TessellgroveProcessor::set_swarm_count(std::size_t count) noexcept
{
    sync_right_carrier();
    const std::size_t n = dsp_kit::OscillatorBank::clamp_voice_count(count);
    for (Carrier* carrier : {&carrier_left, &carrier_right}) {
        if (carrier->bank.size() == n) {
            continue;
        }
        // Assigning a freshly built bank re-initialises its by-value voice
        // storage in place: fresh phases and drift state, no heap traffic.
        carrier->bank = dsp_kit::OscillatorBank(n, carrier->sample_rate);
        carrier->bank.set_frequency(carrier->frequency);
        carrier->bank.set_spread(carrier->swarm_spread);
        carrier->bank.set_drift(carrier->swarm_drift);
    }
}

void TessellgroveProcessor::set_playing(bool is_playing) noexcept
{
    if (playing && !is_playing) {
        // A change still waiting for the grid lands as soon as the host stops.
        if (pending_character_mode != no_pending_mode) {
            character_mode = pending_character_mode;
        }
        pending_character_mode = no_pending_mode;
    }
    if (!playing && is_playing) {
        grid_counter = 0; // the grid starts with the transport
    }
    playing = is_playing;
}

// Under the shared-carrier frame the right carrier copies the left one's
// results instead of computing them again (same settings, same values).
template <bool SharedCarrier>
void TessellgroveProcessor::apply_envelope_push(float left, float right) noexcept
{
    const float e = env_amount * envelope.process(std::fabs((left + right) * 0.5f));
    switch (carrier_left.mode) {
    case static_cast<uint8_t>(CarrierMode::Stoch): {
        const float spread = std::clamp(stoch_spread_base + 0.5f * e, 0.0f, 1.0f);
        const float density = std::clamp(stoch_density_base + 0.3f * e, 0.0f, 1.0f);
        carrier_left.stoch_spread = spread;
        carrier_left.set_stoch_density(density);
        carrier_right.stoch_spread = spread;
        if constexpr (SharedCarrier) {
            carrier_right.stoch_density = density;
            carrier_right.sample_hold.rate = carrier_left.sample_hold.rate;
            carrier_right.sample_hold.phase_increment = carrier_left.sample_hold.phase_increment;
        } else {
            carrier_right.set_stoch_density(density);
        }
        break;
    }
    case static_cast<uint8_t>(CarrierMode::Swarm): {
        const float drift = std::clamp(swarm_drift_base + 0.5f * e, 0.0f, 1.0f);
        const float spread = std::clamp(swarm_spread_base + 0.3f * e, 0.0f, 1.0f);
        carrier_left.bank.set_drift(drift);
        if constexpr (!SharedCarrier) {
            carrier_right.bank.set_drift(drift);
        }
        carrier_left.bank.set_spread(spread);
        carrier_left.swarm_drift = drift;
        carrier_left.swarm_spread = spread;
        if constexpr (SharedCarrier) {
            carrier_right.copy_swarm_from(carrier_left);
        } else {
            carrier_right.bank.set_spread(spread);
            carrier_right.swarm_drift = drift;
            carrier_right.swarm_spread = spread;
        }
        break;
    }
    default: {
        const float p = std::clamp(formant_position_base + 0.5f * e, 0.0f, 1.0f);
        carrier_left.set_formant_position(p);
        if constexpr (SharedCarrier) {
            carrier_right.copy_formant_position_from(carrier_left);
        } else {
            carrier_right.set_formant_position(p);
        }
        break;
    }
    }
}

void TessellgroveProcessor::apply_character(float& left, float& right) noexcept
{
    // Each mode's steps written out per channel, left first: the tone
    // filters carry state from the left value into the right one.
    const float a = character_amount;
    switch (character_mode) {
    case static_cast<uint8_t>(CharacterMode::Grit): {
        // Hard clip, then brighten with part of the clipped signal's highs.
        const float emphasis = 0.5f * a + 0.3f;
        const float yl = grit_saturator.process(left);
        const float hl = grit_tone.process(yl);
        const float yr = grit_saturator.process(right);
        const float hr = grit_tone.process(yr);
        left = dsp_kit::soft_clip(yl + emphasis * hl);
        right = dsp_kit::soft_clip(yr + emphasis * hr);
        break;
    }
    case static_cast<uint8_t>(CharacterMode::Warm): {
        // Bass boost into a rounded saturation.
        const float boost = a + 0.5f;
        const float ll = warm_tone.process(left);
        const float lr = warm_tone.process(right);
        left = dsp_kit::soft_clip(warm_saturator.process1(left + boost * ll));
        right = dsp_kit::soft_clip(warm_saturator.process1(right + boost * lr));
        break;
    }
    case static_cast<uint8_t>(CharacterMode::Fold): {
        left = dsp_kit::soft_clip(wavefolder.process(left * fold_gain));
        right = dsp_kit::soft_clip(wavefolder.process(right * fold_gain));
        break;
    }
    default:
        break; // "Clean" (and anything unknown) passes bit-exactly
    }
}

std::pair<float, float> TessellgroveProcessor::process(float left, float right) noexcept
{
    return frame<true>(left, right);
}

std::pair<float, float> TessellgroveProcessor::process_two_carriers(float left, float right) noexcept
{
    sync_right_carrier();
    return frame<false>(left, right);
}

// A waiting character change lands on a half-beat boundary.
void TessellgroveProcessor::advance_grid() noexcept
{
    grid_counter += 1;
    if (grid_counter >= grid_period) {
        grid_counter = 0;
        if (pending_character_mode != no_pending_mode) {
            character_mode = pending_character_mode;
        }
        pending_character_mode = no_pending_mode;
    }
}

// One carrier-mode step per rising zero crossing of the cycle saw.
void TessellgroveProcessor::advance_mode_cycle() noexcept
{
    const float v = cycle_lfo.next();
    const bool positive = v >= 0.0f;
    if (positive && !cycle_was_positive) {
        cycle_count = (cycle_count + 1) % 3;
        const auto m = static_cast<uint8_t>(cycle_count);
        carrier_left.mode = m;
        carrier_right.mode = m;
    }
    cycle_was_positive = positive;
}

template <bool SharedCarrier>
std::pair<float, float> TessellgroveProcessor::frame(float left, float right) noexcept
{
    left = sanitise_input(left);
    right = sanitise_input(right);

    // 1. Half-beat grid; 2. mode cycle.
    advance_grid();
    if (mode_cycle_enabled) {
        advance_mode_cycle();
    }

    // 3. Lock motion: up to ±2 octaves around `lock_freq`.
    if (lock_motion_enabled && lock_depth > 0.001f) {
        const float h = lock_lfo.next();
        const float f =
            std::clamp(lock_freq * dsp_kit::fast_exp2(2.0f * lock_depth * h), 40.0f, 5000.0f);
        carrier_left.set_frequency(f);
        if constexpr (SharedCarrier) {
            carrier_right.copy_frequency_from(carrier_left);
        } else {
            carrier_right.set_frequency(f);
        }
    }

    // 4. Envelope push from the raw input level.
    if (env_amount > 0.001f) {
        apply_envelope_push<SharedCarrier>(left, right);
    }

    // 5./6. Carriers and ring modulation.
    const float c_left = carrier_left.next();
    float c_right;
    if constexpr (SharedCarrier) {
        c_right = c_left; // same settings, same state: the same value
        right_carrier_stale = true;
    } else {
        c_right = carrier_right.next();
    }
    const float x_left = left * input_gain;
    const float x_right = right * input_gain;
    float w_left = ring_modulator.process(x_left, c_left);
    float w_right = ring_modulator.process(x_right, c_right);

    // 7. Character stage, left value first.
    apply_character(w_left, w_right);

    // 8. Comb.
    float y_left = comb_left.process(w_left);
    float y_right = comb_right.process(w_right);

    // 9. Trigger gate: whole in the first half of a cycle, 1 - depth after.
    if (trig_amount > 0.001f) {
        const float v = trigger_lfo.next();
        const float g = std::clamp(0.5f * v + 0.5f, 0.0f, 1.0f);
        const float gain = 1.0f - trig_amount * (1.0f - g);
        y_left *= gain;
        y_right *= gain;
    }

    // 10. Dry/wet against the raw input, then output gain.
    const float o_left = (mix * y_left + (1.0f - mix) * left) * output_gain;
    const float o_right = (mix * y_right + (1.0f - mix) * right) * output_gain;

    // 11. Width by mid/side.
    const float mid = (o_left + o_right) * 0.5f;
    const float side = (o_left - o_right) * 0.5f * stereo_width;

    // 12. Safety.
    return {safe_output(mid + side), safe_output(mid - side)};
}

// ---------------------------------------------------------------------------
// Block path. Each stage runs over the whole run before the next one, in
// the order the frame applies them; a stage's per-frame state (phases,
// filter memory, counters) is visited frame by frame, so the run gives the
// same floats as the frames one at a time. What changes between frames of
// a run (carrier mode, character mode) is recorded per frame first and the
// stages it selects run over sub-runs of one mode. Only the left carrier
// runs; the right one is brought level by sync_right_carrier as under the
// shared-carrier frame.

void TessellgroveProcessor::process_block(float* left, float* right, std::size_t count) noexcept
{
    while (count > 0) {
        const std::size_t n = count < chunk_frames ? count : chunk_frames;
        process_chunk(left, right, n);
        left += n;
        right += n;
        count -= n;
    }
}

void TessellgroveProcessor::push_left_carrier(float e) noexcept
{
    Carrier& c = carrier_left;
    switch (c.mode) {
    case static_cast<uint8_t>(CarrierMode::Stoch):
        c.stoch_spread = std::clamp(stoch_spread_base + 0.5f * e, 0.0f, 1.0f);
        c.set_stoch_density(std::clamp(stoch_density_base + 0.3f * e, 0.0f, 1.0f));
        break;
    case static_cast<uint8_t>(CarrierMode::Swarm): {
        const float drift = std::clamp(swarm_drift_base + 0.5f * e, 0.0f, 1.0f);
        const float spread = std::clamp(swarm_spread_base + 0.3f * e, 0.0f, 1.0f);
        c.bank.set_drift(drift);
        c.bank.set_spread(spread);
        c.swarm_drift = drift;
        c.swarm_spread = spread;
        break;
    }
    default:
        c.set_formant_position(std::clamp(formant_position_base + 0.5f * e, 0.0f, 1.0f));
        break;
    }
}

void TessellgroveProcessor::run_carrier(std::size_t begin, std::size_t end, const float* lock_hz,
                                        const float* push, float* out) noexcept
{
    Carrier& c = carrier_left;
    if (begin == end) {
        return;
    }
    switch (c.mode) {
    case static_cast<uint8_t>(CarrierMode::Swarm):
        if (lock_hz != nullptr && push != nullptr) {
            // New frequency and pushed spread in one voice recompute: the
            // same floats as set_frequency, then the push's set_drift and
            // set_spread.
            for (std::size_t k = begin; k < end; ++k) {
                const float drift = std::clamp(swarm_drift_base + 0.5f * push[k], 0.0f, 1.0f);
                const float spread = std::clamp(swarm_spread_base + 0.3f * push[k], 0.0f, 1.0f);
                c.frequency = lock_hz[k];
                c.bank.set_drift(drift);
                c.bank.set_frequency_and_spread(lock_hz[k], spread);
                c.swarm_drift = drift;
                c.swarm_spread = spread;
                out[k] = c.bank.process() * Carrier::swarm_scale;
            }
            break;
        }
        for (std::size_t k = begin; k < end; ++k) {
            if (lock_hz != nullptr) {
                c.frequency = lock_hz[k];
                c.bank.set_frequency(lock_hz[k]);
            }
            if (push != nullptr) {
                push_left_carrier(push[k]);
            }
            out[k] = c.bank.process() * Carrier::swarm_scale;
        }
        break;
    case static_cast<uint8_t>(CarrierMode::Stoch):
        // The oscillator follows the random source frame by frame; its
        // phases are collected and their sines taken afterwards.
        if (push != nullptr) {
            for (std::size_t k = begin; k < end; ++k) {
                if (lock_hz != nullptr) {
                    c.frequency = lock_hz[k];
                }
                push_left_carrier(push[k]);
                const float smoothed = c.sample_hold.process();
                const float x = smoothed * c.stoch_spread * 2.0f;
                c.stoch_oscillator.set_frequency(std::clamp(c.frequency * dsp_kit::fast_exp2(x), 40.0f, 5000.0f));
                out[k] = c.stoch_oscillator.advance();
            }
        } else {
            // Local copies keep the running state in registers.
            dsp_kit::SampleAndHold source = c.sample_hold;
            dsp_kit::Oscillator oscillator = c.stoch_oscillator;
            float base = c.frequency;
            for (std::size_t k = begin; k < end; ++k) {
                if (lock_hz != nullptr) {
                    base = lock_hz[k];
                }
                const float x = source.process() * c.stoch_spread * 2.0f;
                oscillator.set_frequency(std::clamp(base * dsp_kit::fast_exp2(x), 40.0f, 5000.0f));
                out[k] = oscillator.advance();
            }
            c.frequency = base;
            c.sample_hold = source;
            c.stoch_oscillator = oscillator;
        }
        dsp_kit::sine_of_turns(out + begin, end - begin);
        break;
    default: {
        // Oscillator (tuned by lock motion) and vowel filter (moved by the
        // push and the sweep) frame by frame, in one loop: the filter's
        // recursion is a chain of dependent operations and the sine is not,
        // so the processor overlaps the next frame's sine with it. The sine
        // stays the C library's (see Carrier::process_formant).
        const bool sweep = c.formant_morph_rate > Carrier::morph_threshold;
        alignas(16) float morph[chunk_frames];
        if (sweep) {
            for (std::size_t k = begin; k < end; ++k) {
                morph[k] = c.morph_lfo.next();
            }
        }
        if (push != nullptr) {
            for (std::size_t k = begin; k < end; ++k) {
                if (lock_hz != nullptr) {
                    c.formant_oscillator.set_frequency(lock_hz[k]);
                }
                const float sine = c.formant_oscillator.next();
                push_left_carrier(push[k]);
                if (sweep) {
                    c.formant_filter.set_position(std::clamp(c.formant_position + 0.25f * morph[k], 0.0f, 1.0f));
                }
                out[k] = c.formant_filter.process(sine) * Carrier::formant_scale;
            }
            break;
        }
        // Without the push nothing else touches the oscillator and the
        // filter: local copies keep their state in registers.
        dsp_kit::Oscillator oscillator = c.formant_oscillator;
        dsp_kit::FormantFilter filter = c.formant_filter;
        for (std::size_t k = begin; k < end; ++k) {
            if (lock_hz != nullptr) {
                oscillator.set_frequency(lock_hz[k]);
            }
            const float sine = oscillator.next();
            if (sweep) {
                filter.set_position(std::clamp(c.formant_position + 0.25f * morph[k], 0.0f, 1.0f));
            }
            out[k] = filter.process(sine) * Carrier::formant_scale;
        }
        c.formant_oscillator = oscillator;
        c.formant_filter = filter;
        break;
    }
    }
    if (lock_hz != nullptr) {
        c.retune_idle_generators(lock_hz[end - 1]);
    }
}

void TessellgroveProcessor::apply_character_run(uint8_t mode, float* left, float* right,
                                                std::size_t count) noexcept
{
    // The tone filters run frame by frame, left value first (their state
    // carries from the left value into the right one); the curves then run
    // four values at a time over each channel.
    const float a = character_amount;
    std::size_t i = 0;
    switch (mode) {
    case static_cast<uint8_t>(CharacterMode::Grit): {
        const float emphasis = 0.5f * a + 0.3f;
        const dsp_kit::Saturator clip = grit_saturator;
        dsp_kit::OnePole tone = grit_tone; // locals stay in registers
        for (std::size_t k = 0; k < count; ++k) {
            const float yl = clip.process(left[k]);
            const float hl = tone.process(yl);
            const float yr = clip.process(right[k]);
            const float hr = tone.process(yr);
            left[k] = yl + emphasis * hl;
            right[k] = yr + emphasis * hr;
        }
        grit_tone.state = tone.state;
        for (; i + 4 <= count; i += 4) {
            _mm_storeu_ps(left + i, dsp_kit::soft_clip4(_mm_loadu_ps(left + i)));
            _mm_storeu_ps(right + i, dsp_kit::soft_clip4(_mm_loadu_ps(right + i)));
        }
        break;
    }
    case static_cast<uint8_t>(CharacterMode::Warm): {
        const float boost = a + 0.5f;
        dsp_kit::OnePole tone = warm_tone; // a local stays in registers
        for (std::size_t k = 0; k < count; ++k) {
            const float ll = tone.process(left[k]);
            const float lr = tone.process(right[k]);
            left[k] = left[k] + boost * ll;
            right[k] = right[k] + boost * lr;
        }
        warm_tone.state = tone.state;
        for (; i + 4 <= count; i += 4) {
            _mm_storeu_ps(left + i, dsp_kit::soft_clip4(warm_saturator.process4(_mm_loadu_ps(left + i))));
            _mm_storeu_ps(right + i, dsp_kit::soft_clip4(warm_saturator.process4(_mm_loadu_ps(right + i))));
        }
        for (std::size_t k = i; k < count; ++k) {
            left[k] = warm_saturator.process1(left[k]);
            right[k] = warm_saturator.process1(right[k]);
        }
        break;
    }
    case static_cast<uint8_t>(CharacterMode::Fold): {
        const __m128 gain = _mm_set1_ps(fold_gain);
        for (; i + 4 <= count; i += 4) {
            _mm_storeu_ps(left + i,
                          dsp_kit::soft_clip4(wavefolder.process4(_mm_mul_ps(_mm_loadu_ps(left + i), gain))));
            _mm_storeu_ps(right + i,
                          dsp_kit::soft_clip4(wavefolder.process4(_mm_mul_ps(_mm_loadu_ps(right + i), gain))));
        }
        for (std::size_t k = i; k < count; ++k) {
            left[k] = wavefolder.process(left[k] * fold_gain);
            right[k] = wavefolder.process(right[k] * fold_gain);
        }
        break;
    }
    default:
        return; // "Clean" (and anything unknown) passes bit-exactly
    }
    for (; i < count; ++i) {
        left[i] = dsp_kit::soft_clip(left[i]);
        right[i] = dsp_kit::soft_clip(right[i]);
    }
}

void TessellgroveProcessor::process_chunk(float* left, float* right, std::size_t n) noexcept
{
    alignas(16) float in_left[chunk_frames];
    alignas(16) float in_right[chunk_frames];
    alignas(16) float wet_left[chunk_frames];
    alignas(16) float wet_right[chunk_frames];
    alignas(16) float carrier[chunk_frames];
    alignas(16) float lock_hz[chunk_frames];
    alignas(16) float push[chunk_frames];
    uint8_t carrier_modes[chunk_frames];
    uint8_t character_modes[chunk_frames];

    for (std::size_t k = 0; k < n; ++k) {
        in_left[k] = sanitise_input(left[k]);
        in_right[k] = sanitise_input(right[k]);
    }

    // 1./2. Grid and mode cycle depend on counters only: every frame's
    // modes are known before any audio is computed.
    for (std::size_t k = 0; k < n; ++k) {
        advance_grid();
        if (mode_cycle_enabled) {
            advance_mode_cycle();
        }
        carrier_modes[k] = carrier_left.mode;
        character_modes[k] = character_mode;
    }

    // 3. Lock motion: the frequency of every frame.
    const bool locking = lock_motion_enabled && lock_depth > 0.001f;
    if (locking) {
        // The modulator's own sine (libm): its value sets the oscillators'
        // increments, whose rounding every later phase inherits.
        for (std::size_t k = 0; k < n; ++k) {
            const float h = lock_lfo.next();
            lock_hz[k] = std::clamp(lock_freq * dsp_kit::fast_exp2(2.0f * lock_depth * h), 40.0f, 5000.0f);
        }
    }

    // 4. Envelope push amounts from the raw input level.
    const bool pushing = env_amount > 0.001f;
    if (pushing) {
        dsp_kit::EnvelopeFollower follower = envelope; // a local stays in registers
        for (std::size_t k = 0; k < n; ++k) {
            push[k] = env_amount * follower.process(std::fabs((in_left[k] + in_right[k]) * 0.5f));
        }
        envelope.level = follower.level;
    }

    // 5. Carrier, over runs of one mode.
    for (std::size_t begin = 0; begin < n;) {
        std::size_t end = begin + 1;
        while (end < n && carrier_modes[end] == carrier_modes[begin]) {
            ++end;
        }
        carrier_left.mode = carrier_modes[begin];
        run_carrier(begin, end, locking ? lock_hz : nullptr, pushing ? push : nullptr, carrier);
        begin = end;
    }
    right_carrier_stale = true;

    // 6. Ring modulation.
    for (std::size_t k = 0; k < n; ++k) {
        wet_left[k] = ring_modulator.process(in_left[k] * input_gain, carrier[k]);
        wet_right[k] = ring_modulator.process(in_right[k] * input_gain, carrier[k]);
    }

    // 7. Character stage, over runs of one mode.
    for (std::size_t begin = 0; begin < n;) {
        std::size_t end = begin + 1;
        while (end < n && character_modes[end] == character_modes[begin]) {
            ++end;
        }
        apply_character_run(character_modes[begin], wet_left + begin, wet_right + begin, end - begin);
        begin = end;
    }

    // 8. Comb, both channels side by side.
    dsp_kit::CombFilter::process_pair(comb_left, wet_left, comb_right, wet_right, n);

    // 9. Trigger gate.
    if (trig_amount > 0.001f) {
        for (std::size_t k = 0; k < n; ++k) {
            const float v = trigger_lfo.next();
            const float g = std::clamp(0.5f * v + 0.5f, 0.0f, 1.0f);
            const float gain = 1.0f - trig_amount * (1.0f - g);
            wet_left[k] *= gain;
            wet_right[k] *= gain;
        }
    }

    // 10.-12. Dry/wet, output gain, width, safety; four frames at a time
    // with the frame's operations in the frame's order.
    std::size_t k = 0;
    const __m128 wet_share = _mm_set1_ps(mix);
    const __m128 dry_share = _mm_set1_ps(1.0f - mix);
    const __m128 gain = _mm_set1_ps(output_gain);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 width = _mm_set1_ps(stereo_width);
    for (; k + 4 <= n; k += 4) {
        const __m128 o_left = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(wet_share, _mm_load_ps(wet_left + k)),
                                                    _mm_mul_ps(dry_share, _mm_load_ps(in_left + k))),
                                         gain);
        const __m128 o_right = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(wet_share, _mm_load_ps(wet_right + k)),
                                                     _mm_mul_ps(dry_share, _mm_load_ps(in_right + k))),
                                          gain);
        const __m128 mid = _mm_mul_ps(_mm_add_ps(o_left, o_right), half);
        const __m128 side = _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(o_left, o_right), half), width);
        _mm_storeu_ps(left + k, safe_output4(_mm_add_ps(mid, side)));
        _mm_storeu_ps(right + k, safe_output4(_mm_sub_ps(mid, side)));
    }
    for (; k < n; ++k) {
        const float o_left = (mix * wet_left[k] + (1.0f - mix) * in_left[k]) * output_gain;
        const float o_right = (mix * wet_right[k] + (1.0f - mix) * in_right[k]) * output_gain;
        const float mid = (o_left + o_right) * 0.5f;
        const float side = (o_left - o_right) * 0.5f * stereo_width;
        left[k] = safe_output(mid + side);
        right[k] = safe_output(mid - side);
    }
}

} // namespace tessellgrove
