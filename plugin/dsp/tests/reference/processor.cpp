// Reference copy of the straightforward scalar engine (two carriers each
// advanced on its own, one sinf per voice, voice law recomputed in full),
// kept only for tests to compare the production engine against. Do not
// optimise it: its value is that it is the plain arithmetic.
#include "plugin/dsp/tests/reference/processor.hpp"

#include <algorithm>
#include <cmath>

#include "dsp_kit/primitives/fast_exp2.hpp"
#include "dsp_kit/primitives/soft_clip.hpp"
#include "plugin/dsp/sync.hpp"

namespace tessellgrove::reference {

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

void TessellgroveProcessor::set_sample_rate(float sr)
{
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
    const std::size_t n = OscillatorBank::clamp_voice_count(count);
    for (Carrier* carrier : {&carrier_left, &carrier_right}) {
        if (carrier->bank.size() == n) {
            continue;
        }
        // Assigning a freshly built bank re-initialises its by-value voice
        // storage in place: fresh phases and drift state, no heap traffic.
        carrier->bank = OscillatorBank(n, carrier->sample_rate);
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

void TessellgroveProcessor::apply_envelope_push(float left, float right) noexcept
{
    const float e = env_amount * envelope.process(std::fabs((left + right) * 0.5f));
    switch (carrier_left.mode) {
    case static_cast<uint8_t>(CarrierMode::Stoch): {
        const float spread = std::clamp(stoch_spread_base + 0.5f * e, 0.0f, 1.0f);
        const float density = std::clamp(stoch_density_base + 0.3f * e, 0.0f, 1.0f);
        for (Carrier* carrier : {&carrier_left, &carrier_right}) {
            carrier->stoch_spread = spread;
            carrier->set_stoch_density(density);
        }
        break;
    }
    case static_cast<uint8_t>(CarrierMode::Swarm): {
        const float drift = std::clamp(swarm_drift_base + 0.5f * e, 0.0f, 1.0f);
        const float spread = std::clamp(swarm_spread_base + 0.3f * e, 0.0f, 1.0f);
        carrier_left.bank.set_drift(drift);
        carrier_right.bank.set_drift(drift);
        carrier_left.bank.set_spread(spread);
        carrier_right.bank.set_spread(spread);
        carrier_left.swarm_drift = drift;
        carrier_right.swarm_drift = drift;
        carrier_left.swarm_spread = spread;
        carrier_right.swarm_spread = spread;
        break;
    }
    default: {
        const float p = std::clamp(formant_position_base + 0.5f * e, 0.0f, 1.0f);
        carrier_left.set_formant_position(p);
        carrier_right.set_formant_position(p);
        break;
    }
    }
}

void TessellgroveProcessor::apply_character(float& left, float& right) noexcept
{
    const float a = character_amount;
    switch (character_mode) {
    case static_cast<uint8_t>(CharacterMode::Grit): {
        // Hard clip, then brighten with part of the clipped signal's highs.
        const float emphasis = 0.5f * a + 0.3f;
        for (float* x : {&left, &right}) {
            const float y = grit_saturator.process(*x);
            const float h = grit_tone.process(y);
            *x = dsp_kit::soft_clip(y + emphasis * h);
        }
        break;
    }
    case static_cast<uint8_t>(CharacterMode::Warm): {
        // Bass boost into a rounded saturation.
        const float boost = a + 0.5f;
        for (float* x : {&left, &right}) {
            const float l = warm_tone.process(*x);
            const float y = warm_saturator.process(*x + boost * l);
            *x = dsp_kit::soft_clip(y);
        }
        break;
    }
    case static_cast<uint8_t>(CharacterMode::Fold): {
        for (float* x : {&left, &right}) {
            *x = dsp_kit::soft_clip(wavefolder.process(*x * fold_gain));
        }
        break;
    }
    default:
        break; // "Clean" (and anything unknown) passes bit-exactly
    }
}

std::pair<float, float> TessellgroveProcessor::process(float left, float right) noexcept
{
    left = sanitise_input(left);
    right = sanitise_input(right);

    // 1. Half-beat grid: a waiting character change lands on a boundary.
    grid_counter += 1;
    if (grid_counter >= grid_period) {
        grid_counter = 0;
        if (pending_character_mode != no_pending_mode) {
            character_mode = pending_character_mode;
        }
        pending_character_mode = no_pending_mode;
    }

    // 2. Mode cycle: one step per rising zero crossing of the saw.
    if (mode_cycle_enabled) {
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

    // 3. Lock motion: up to ±2 octaves around `lock_freq`.
    if (lock_motion_enabled && lock_depth > 0.001f) {
        const float h = lock_lfo.next();
        const float f =
            std::clamp(lock_freq * dsp_kit::fast_exp2(2.0f * lock_depth * h), 40.0f, 5000.0f);
        carrier_left.set_frequency(f);
        carrier_right.set_frequency(f);
    }

    // 4. Envelope push from the raw input level.
    if (env_amount > 0.001f) {
        apply_envelope_push(left, right);
    }

    // 5./6. Carriers and ring modulation.
    const float c_left = carrier_left.next();
    const float c_right = carrier_right.next();
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

} // namespace tessellgrove::reference
