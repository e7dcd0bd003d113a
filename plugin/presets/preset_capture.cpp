// TessellgrovePreset::from_params: the one place the record reads the live
// parameter set.
#include "plugin/presets/tessellgrove_preset.hpp"

#include "plugin/params/tessellgrove_params.hpp"

namespace tessellgrove {
namespace {

// An option index as stored in a record; an index outside the option list
// (which the parameter set never holds) is stored as 0.
std::uint8_t option_index(const plugin_kit::EnumParam& param, std::size_t option_count) noexcept {
    const std::int32_t index = param.value();
    return (index >= 0 && static_cast<std::size_t>(index) < option_count) ? static_cast<std::uint8_t>(index)
                                                                          : std::uint8_t{0};
}

} // namespace

TessellgrovePreset TessellgrovePreset::from_params(const TessellgroveParams& params, std::string_view name) {
    TessellgrovePreset p;
    p.name = std::string(name);
    p.input_gain = params.input_gain.value();
    p.mix = params.mix.value();
    p.output_gain = params.output_gain.value();
    p.stereo_width = params.stereo_width.value();
    p.lock_freq = params.lock_freq.value();
    p.carrier_mode = option_index(params.carrier_mode, carrier_mode_names.size());
    p.carrier_env_amount = params.carrier_env_amount.value();
    p.mode_cycle_enable = params.mode_cycle_enable.value();
    p.mode_cycle_div = option_index(params.mode_cycle_div, division_names.size());
    p.formant_position = params.formant_position.value();
    p.formant_width = params.formant_width.value();
    p.formant_morph_rate = params.formant_morph_rate.value();
    p.stoch_spread = params.stoch_spread.value();
    p.stoch_density = params.stoch_density.value();
    p.stoch_smoothing = params.stoch_smoothing.value();
    p.swarm_count = params.swarm_count.value();
    p.swarm_spread = params.swarm_spread.value();
    p.swarm_drift = params.swarm_drift.value();
    p.trig_div = option_index(params.trig_div, division_names.size());
    p.trig_amount = params.trig_amount.value();
    p.char_mode = option_index(params.char_mode, char_mode_names.size());
    p.char_amount = params.char_amount.value();
    p.comb_feedback = params.comb_feedback.value();
    p.comb_tuning = params.comb_tuning.value();
    p.comb_mix = params.comb_mix.value();
    p.lock_motion_enable = params.lock_motion_enable.value();
    p.lock_motion_rate = option_index(params.lock_motion_rate, lock_motion_rate_names.size());
    p.lock_motion_depth = params.lock_motion_depth.value();
    p.lock_motion_shape = option_index(params.lock_motion_shape, lock_motion_shape_names.size());
    return p;
}

} // namespace tessellgrove
