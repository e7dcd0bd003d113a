#include "plugin/params/tessellgrove_params.hpp"

#include <span>
#include <string>
#include <utility>

namespace tessellgrove {

namespace {

using plugin_kit::FloatParamOptions;
using plugin_kit::FloatRange;
namespace formatters = plugin_kit::formatters;

// Builds a float parameter's presentation.
FloatParamOptions options(std::string unit, plugin_kit::FloatToText value_to_string,
                          plugin_kit::TextToFloat string_to_value = {}, bool unit_in_value_text = false) {
    FloatParamOptions o;
    o.unit = std::move(unit);
    o.value_to_string = std::move(value_to_string);
    o.string_to_value = std::move(string_to_value);
    o.unit_in_value_text = unit_in_value_text;
    return o;
}

// Gains in dB, one decimal.
FloatParamOptions decibels() {
    return options(" dB", formatters::v2s_rounded(1));
}

// Fractions shown as whole percent; typed text may carry a '%' and is divided by 100.
FloatParamOptions percent() {
    return options(" %", formatters::v2s_percentage(0), formatters::s2v_percentage());
}

// Unitless amounts, two decimals.
FloatParamOptions two_decimals() {
    return options("", formatters::v2s_rounded(2));
}

// Frequencies whose texts switch from Hz to kHz and so carry their own unit.
FloatParamOptions hertz_then_kilohertz() {
    return options(" Hz", formatters::v2s_hz_then_khz(0), {}, true);
}

template <std::size_t N>
std::vector<std::string> names(const std::array<std::string_view, N>& list) {
    return std::vector<std::string>(list.begin(), list.end());
}

} // namespace

TessellgroveParams::TessellgroveParams()
    : input_gain("Input Gain", 0.0f, FloatRange::linear(-12.0f, 12.0f), decibels()),
      mix("Mix", 0.5f, FloatRange::linear(0.0f, 1.0f), percent()),
      output_gain("Output Gain", 0.0f, FloatRange::linear(-24.0f, 12.0f), decibels()),
      stereo_width("Stereo Width", 1.0f, FloatRange::linear(0.0f, 2.0f), percent()),
      lock_freq("Lock Frequency", 440.0f, FloatRange::skewed(40.0f, 5000.0f, 0.25f), hertz_then_kilohertz()),
      lock_motion_enable("Lock Motion Enable", false),
      lock_motion_rate("Lock Motion Rate", 4, names(lock_motion_rate_names)),
      lock_motion_depth("Lock Motion Depth", 0.5f, FloatRange::linear(0.0f, 1.0f), percent()),
      lock_motion_shape("Lock Motion Shape", 0, names(lock_motion_shape_names)),
      carrier_mode("Carrier Mode", 0, names(carrier_mode_names)),
      carrier_env_amount("Carrier Env Amount", 0.0f, FloatRange::linear(0.0f, 1.0f), percent()),
      mode_cycle_enable("Mode Cycle Enable", false),
      mode_cycle_div("Mode Cycle Division", 0, names(division_names)),
      formant_position("Formant Position", 0.5f, FloatRange::linear(0.0f, 1.0f), two_decimals()),
      formant_width("Formant Width", 0.5f, FloatRange::linear(0.0f, 1.0f), two_decimals()),
      formant_morph_rate("Formant Morph Rate", 0.0f, FloatRange::skewed(0.0f, 10.0f, 0.5f),
                         options(" Hz", formatters::v2s_rounded(2))),
      stoch_spread("Stoch Spread", 0.3f, FloatRange::linear(0.0f, 1.0f), two_decimals()),
      stoch_density("Stoch Density", 0.5f, FloatRange::linear(0.0f, 1.0f), two_decimals()),
      stoch_smoothing("Stoch Smoothing", 0.5f, FloatRange::linear(0.0f, 1.0f), two_decimals()),
      swarm_count("Swarm Count", 4, plugin_kit::IntRange{2, 16}),
      swarm_spread("Swarm Spread", 0.2f, FloatRange::linear(0.0f, 1.0f), two_decimals()),
      swarm_drift("Swarm Drift", 0.3f, FloatRange::linear(0.0f, 1.0f), two_decimals()),
      trig_div("Trigger Division", 1, names(division_names)),
      trig_amount("Trigger Amount", 0.0f, FloatRange::linear(0.0f, 1.0f), two_decimals()),
      char_mode("Character Mode", 0, names(char_mode_names)),
      char_amount("Character Amount", 0.5f, FloatRange::linear(0.0f, 1.0f), two_decimals()),
      comb_feedback("Comb Feedback", 0.0f, FloatRange::linear(0.0f, 0.95f), two_decimals()),
      comb_tuning("Comb Tuning", 440.0f, FloatRange::skewed(20.0f, 5000.0f, 0.25f), hertz_then_kilohertz()),
      // Shown as a percentage but with no unit and no percent input: typed
      // text is the plain fraction.
      comb_mix("Comb Mix", 0.0f, FloatRange::linear(0.0f, 1.0f),
               options("", formatters::v2s_percentage(0))) {}

std::vector<plugin_kit::ParamMapEntry> TessellgroveParams::param_map() {
    plugin_kit::Param* const members[] = {
        &input_gain,         &mix,               &output_gain,     &stereo_width,      &lock_freq,
        &lock_motion_enable, &lock_motion_rate,  &lock_motion_depth, &lock_motion_shape, &carrier_mode,
        &carrier_env_amount, &mode_cycle_enable, &mode_cycle_div,  &formant_position,  &formant_width,
        &formant_morph_rate, &stoch_spread,      &stoch_density,   &stoch_smoothing,   &swarm_count,
        &swarm_spread,       &swarm_drift,       &trig_div,        &trig_amount,       &char_mode,
        &char_amount,        &comb_feedback,     &comb_tuning,     &comb_mix,
    };
    static_assert(std::size(members) == param_count);

    std::vector<plugin_kit::ParamMapEntry> map;
    map.reserve(param_count);
    for (std::size_t i = 0; i < param_count; ++i) {
        map.push_back(plugin_kit::ParamMapEntry{param_ids[i], members[i], std::string_view{}});
    }
    return map;
}

std::map<std::string, std::string> TessellgroveParams::serialize_fields() const {
    return {};
}

void TessellgroveParams::deserialize_fields(const std::map<std::string, std::string>& fields) {
    for ([[maybe_unused]] const auto& entry : fields) {
        // No persisted fields besides parameter values: every entry is ignored.
    }
}

} // namespace tessellgrove
