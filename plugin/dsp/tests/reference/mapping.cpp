// Reference copy of the straightforward scalar engine (two carriers each
// advanced on its own, one sinf per voice, voice law recomputed in full),
// kept only for tests to compare the production engine against. Do not
// optimise it: its value is that it is the plain arithmetic.
#include "plugin/dsp/tests/reference/mapping.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "plugin/dsp/tests/reference/processor.hpp"
#include "plugin/dsp/sync.hpp"
#include "plugin/params/tessellgrove_params.hpp"

namespace tessellgrove::reference {

namespace {

float db_to_linear(float db) noexcept
{
    return std::pow(10.0f, db / 20.0f);
}

// Enumeration index to an 8-bit mode, with everything out of 1..last
// counting as 0 (the first option).
uint8_t index_or_zero(int32_t index, int32_t last) noexcept
{
    return (index >= 1 && index <= last) ? static_cast<uint8_t>(index) : uint8_t{0};
}

} // namespace

void update_processor_params(const TessellgroveParams& params, float host_tempo,
                             TessellgroveProcessor& p) noexcept
{
    Carrier* const carriers[] = {&p.carrier_left, &p.carrier_right};

    // 1. Tempo for every synced rate below. A NaN tempo would turn every
    // synced phase increment into NaN and silence the engine until a reset,
    // so the last good tempo stays in force instead.
    const float t = std::isnan(host_tempo) ? p.tempo : std::clamp(host_tempo, 20.0f, 300.0f);
    p.tempo = t;

    // 2.-6. Levels and width.
    p.input_gain = db_to_linear(params.input_gain.value());
    p.mix = std::clamp(params.mix.value(), 0.0f, 1.0f);
    p.ring_modulator.set_mix(1.0f);
    p.output_gain = db_to_linear(params.output_gain.value());
    p.stereo_width = std::clamp(params.stereo_width.value(), 0.0f, 2.0f);

    // 7.-10. Carrier mode and mode cycle. While the cycle runs it owns the
    // carrier modes and `carrier_mode` is ignored.
    const uint8_t carrier_mode = index_or_zero(params.carrier_mode.value(), 2);
    p.mode_cycle_enabled = params.mode_cycle_enable.value();
    if (!p.mode_cycle_enabled) {
        p.cycle_count = 0;
    }
    p.cycle_div_index = index_or_zero(params.mode_cycle_div.value(), 3);
    p.cycle_lfo.set_rate(synced_rate_hz(t, division_beats(params.mode_cycle_div.value())));
    if (!p.mode_cycle_enabled) {
        for (Carrier* c : carriers) {
            c->mode = carrier_mode;
        }
    }

    // 11. Base frequency. Uses the lock-motion switch of the previous block,
    // so switching lock motion off returns to `lock_freq` one block later.
    const float lock_freq = params.lock_freq.value();
    p.lock_freq = lock_freq;
    if (!p.lock_motion_enabled) {
        const float f = std::clamp(lock_freq, 40.0f, 5000.0f);
        for (Carrier* c : carriers) {
            c->set_frequency(f);
        }
    }

    // 12.-16. Envelope push and lock motion.
    p.env_amount = std::clamp(params.carrier_env_amount.value(), 0.0f, 1.0f);
    p.lock_motion_enabled = params.lock_motion_enable.value();
    p.lock_depth = std::clamp(params.lock_motion_depth.value(), 0.0f, 1.0f);
    p.lock_lfo.set_rate(
        synced_rate_hz(t, std::max(lock_motion_beats(params.lock_motion_rate.value()), 0.001f)));
    const int32_t shape = params.lock_motion_shape.value();
    p.lock_lfo.shape = (shape >= 0 && shape < 5) ? static_cast<uint8_t>(shape) : uint8_t{0};

    // 17.-19. Formant generator.
    const float formant_position = params.formant_position.value();
    p.formant_position_base = formant_position;
    const float position = std::clamp(formant_position, 0.0f, 1.0f);
    for (Carrier* c : carriers) {
        c->set_formant_position(position);
    }
    const float width = std::clamp(params.formant_width.value(), 0.0f, 1.0f);
    for (Carrier* c : carriers) {
        c->formant_width = width;
        c->formant_filter.set_resonance(width);
    }
    const float morph_rate = params.formant_morph_rate.value();
    for (Carrier* c : carriers) {
        c->formant_morph_rate = std::max(morph_rate, 0.0f);
        c->morph_lfo.set_rate(std::max(morph_rate, 0.001f));
    }

    // 20.-22. Stoch generator.
    const float stoch_spread = params.stoch_spread.value();
    p.stoch_spread_base = stoch_spread;
    for (Carrier* c : carriers) {
        c->stoch_spread = std::clamp(stoch_spread, 0.0f, 1.0f);
    }
    const float stoch_density = params.stoch_density.value();
    p.stoch_density_base = stoch_density;
    for (Carrier* c : carriers) {
        c->set_stoch_density(std::clamp(stoch_density, 0.0f, 1.0f));
    }
    const float smoothing = std::clamp(params.stoch_smoothing.value(), 0.0f, 1.0f);
    for (Carrier* c : carriers) {
        c->stoch_smoothing = smoothing;
        c->sample_hold.set_smoothing(smoothing);
    }

    // 23.-25. Swarm generator. A negative count wraps to a huge unsigned
    // value and so clamps to 16.
    p.set_swarm_count(static_cast<std::size_t>(
        static_cast<int64_t>(params.swarm_count.value())));
    const float swarm_spread = params.swarm_spread.value();
    p.swarm_spread_base = swarm_spread;
    for (Carrier* c : carriers) {
        c->swarm_spread = std::clamp(swarm_spread, 0.0f, 1.0f);
        c->bank.set_spread(c->swarm_spread);
    }
    const float swarm_drift = params.swarm_drift.value();
    p.swarm_drift_base = swarm_drift;
    for (Carrier* c : carriers) {
        c->swarm_drift = std::clamp(swarm_drift, 0.0f, 1.0f);
        c->bank.set_drift(c->swarm_drift);
    }

    // 26. Character mode: at once while stopped, on the half-beat grid while
    // the transport plays.
    const int32_t char_mode = params.char_mode.value();
    const uint8_t k = (char_mode >= 0 && char_mode < 4) ? static_cast<uint8_t>(char_mode) : uint8_t{0};
    if (!p.playing) {
        p.character_mode = k;
        p.pending_character_mode = TessellgroveProcessor::no_pending_mode;
    } else {
        p.pending_character_mode = k;
    }

    // 27. Character amount and everything it drives.
    const float a = std::clamp(params.char_amount.value(), 0.0f, 1.0f);
    p.character_amount = a;
    p.grit_saturator.set_drive(0.5f * a + 0.5f);
    p.warm_saturator.set_drive(0.6f * a + 0.4f);
    p.wavefolder.set_drive(0.4f * a + 0.6f);
    p.fold_gain = 1.5f * a + 1.5f;
    p.wavefolder.set_stages(a > 0.7f ? 3u : (a > 0.3f ? 2u : 1u));

    // 28.-30. Comb (the filter clamps its own settings).
    const float comb_feedback = params.comb_feedback.value();
    const float comb_tuning = params.comb_tuning.value();
    const float comb_mix = params.comb_mix.value();
    p.comb_left.set_feedback(comb_feedback);
    p.comb_right.set_feedback(comb_feedback);
    p.comb_left.set_frequency(comb_tuning);
    p.comb_right.set_frequency(comb_tuning);
    p.comb_left.set_mix(comb_mix);
    p.comb_right.set_mix(comb_mix);

    // 31.-32. Trigger gate.
    p.trig_div_index = index_or_zero(params.trig_div.value(), 3);
    p.trigger_lfo.set_rate(synced_rate_hz(t, division_beats(params.trig_div.value())));
    p.trig_amount = std::clamp(params.trig_amount.value(), 0.0f, 1.0f);

    // 33. Half-beat grid at the new tempo.
    p.grid_period = grid_period_samples(p.sample_rate, t);
}

} // namespace tessellgrove::reference
