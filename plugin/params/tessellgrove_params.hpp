#pragma once
// The 29 host-visible parameters of Tessellgrove, their ids, ranges,
// defaults, units and texts. Member order is host order.
//
// Variant lists are shared by index with the engine, presets and the page;
// reordering or inserting variants changes the meaning of stored values.

#include "plugin_kit/params/params.hpp"

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

namespace tessellgrove {

// Number of parameters in the set.
inline constexpr std::size_t param_count = 29;

// Text ids in host order (the order of param_map).
inline constexpr std::array<std::string_view, param_count> param_ids = {
    "input_gain",        "mix",                "output_gain",        "stereo_width",    "lock_freq",
    "lock_motion_enable", "lock_motion_rate",  "lock_motion_depth",  "lock_motion_shape", "carrier_mode",
    "carrier_env_amount", "mode_cycle_enable", "mode_cycle_div",     "formant_position", "formant_width",
    "formant_morph_rate", "stoch_spread",      "stoch_density",      "stoch_smoothing", "swarm_count",
    "swarm_spread",       "swarm_drift",       "trig_div",           "trig_amount",     "char_mode",
    "char_amount",        "comb_feedback",     "comb_tuning",        "comb_mix",
};

// Enumeration variant names, in index order.
inline constexpr std::array<std::string_view, 9> lock_motion_rate_names = {
    "4 bars", "2 bars", "1 bar", "1/2", "1/4", "1/8", "1/16", "1/4T", "1/8T"};
inline constexpr std::array<std::string_view, 5> lock_motion_shape_names = {"Sine", "Triangle", "Saw", "Square",
                                                                           "S&H"};
inline constexpr std::array<std::string_view, 3> carrier_mode_names = {"Formant", "Stoch", "Swarm"};
inline constexpr std::array<std::string_view, 4> division_names = {"1/4", "1/8", "1/16", "1/32"};
inline constexpr std::array<std::string_view, 4> char_mode_names = {"Clean", "Grit", "Warm", "Fold"};

// The parameter set; the default constructor gives every parameter its default.
struct TessellgroveParams final : plugin_kit::Params {
    TessellgroveParams();

    plugin_kit::FloatParam input_gain;         // dB, -12..12
    plugin_kit::FloatParam mix;                // dry/wet fraction, 0..1
    plugin_kit::FloatParam output_gain;        // dB, -24..12
    plugin_kit::FloatParam stereo_width;       // fraction, 0..2
    plugin_kit::FloatParam lock_freq;          // Hz, 40..5000, skewed 0.25
    plugin_kit::BoolParam lock_motion_enable;
    plugin_kit::EnumParam lock_motion_rate;    // lock_motion_rate_names
    plugin_kit::FloatParam lock_motion_depth;  // fraction, 0..1
    plugin_kit::EnumParam lock_motion_shape;   // lock_motion_shape_names
    plugin_kit::EnumParam carrier_mode;        // carrier_mode_names
    plugin_kit::FloatParam carrier_env_amount; // fraction, 0..1
    plugin_kit::BoolParam mode_cycle_enable;
    plugin_kit::EnumParam mode_cycle_div;      // division_names
    plugin_kit::FloatParam formant_position;   // 0..1
    plugin_kit::FloatParam formant_width;      // 0..1
    plugin_kit::FloatParam formant_morph_rate; // Hz, 0..10, skewed 0.5
    plugin_kit::FloatParam stoch_spread;       // 0..1
    plugin_kit::FloatParam stoch_density;      // 0..1
    plugin_kit::FloatParam stoch_smoothing;    // 0..1
    plugin_kit::IntParam swarm_count;          // oscillators, 2..16
    plugin_kit::FloatParam swarm_spread;       // 0..1
    plugin_kit::FloatParam swarm_drift;        // 0..1
    plugin_kit::EnumParam trig_div;            // division_names
    plugin_kit::FloatParam trig_amount;        // 0..1
    plugin_kit::EnumParam char_mode;           // char_mode_names
    plugin_kit::FloatParam char_amount;        // 0..1
    plugin_kit::FloatParam comb_feedback;      // 0..0.95
    plugin_kit::FloatParam comb_tuning;        // Hz, 20..5000, skewed 0.25
    plugin_kit::FloatParam comb_mix;           // fraction, 0..1

    // (id, parameter, "") for all 29, in member order.
    std::vector<plugin_kit::ParamMapEntry> param_map() override;
    // No persisted data besides parameter values.
    std::map<std::string, std::string> serialize_fields() const override;
    // Ignores every entry.
    void deserialize_fields(const std::map<std::string, std::string>& fields) override;
};

} // namespace tessellgrove
