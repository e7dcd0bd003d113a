#pragma once
// A named snapshot of the 29 parameters in plain values, and its JSON form.
//
// Field order is fixed: it is the key order of the JSON text, the position
// order of the array form and (without `name`) the order of
// `to_param_values`. The record enforces no ranges; a record read from a
// file holds whatever numbers the file holds.

#include "plugin/presets/preset_error.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace tessellgrove {

struct TessellgroveParams;

// One (parameter id, normalised value) pair of `to_param_values`.
using PresetParamValue = std::pair<std::string_view, float>;
// The 29 pairs, in record field order.
using PresetParamValues = std::array<PresetParamValue, 29>;

// A preset record. Default construction gives the parameter defaults with
// an empty name.
struct TessellgrovePreset {
    std::string name;                   // as typed when saved
    float input_gain = 0.0f;            // dB
    float mix = 0.5f;                   // fraction 0..1
    float output_gain = 0.0f;           // dB
    float stereo_width = 1.0f;          // factor 0..2
    float lock_freq = 440.0f;           // Hz
    std::uint8_t carrier_mode = 0;      // option index, 3 options
    float carrier_env_amount = 0.0f;    // fraction 0..1
    bool mode_cycle_enable = false;
    std::uint8_t mode_cycle_div = 0;    // option index, 4 options
    float formant_position = 0.5f;      // 0..1
    float formant_width = 0.5f;         // 0..1
    float formant_morph_rate = 0.0f;    // Hz 0..10
    float stoch_spread = 0.3f;          // 0..1
    float stoch_density = 0.5f;         // 0..1
    float stoch_smoothing = 0.5f;       // 0..1
    std::int32_t swarm_count = 4;       // voice count
    float swarm_spread = 0.2f;          // 0..1
    float swarm_drift = 0.3f;           // 0..1
    std::uint8_t trig_div = 1;          // option index, 4 options
    float trig_amount = 0.0f;           // 0..1
    std::uint8_t char_mode = 0;         // option index, 4 options
    float char_amount = 0.5f;           // 0..1
    float comb_feedback = 0.0f;         // 0..0.95
    float comb_tuning = 440.0f;         // Hz
    float comb_mix = 0.0f;              // fraction 0..1
    bool lock_motion_enable = false;
    std::uint8_t lock_motion_rate = 4;  // option index, 9 options
    float lock_motion_depth = 0.5f;     // fraction 0..1
    std::uint8_t lock_motion_shape = 0; // option index, 5 options

    // Captures the current plain values of `params` (each read once) under
    // `name`, copied as given. Safe on the audio thread apart from the name
    // copy's allocation.
    static TessellgrovePreset from_params(const TessellgroveParams& params, std::string_view name);

    // The normalised value of every field but `name`, in field order, with
    // the record's own clamping rules (some fields pass through unclamped).
    PresetParamValues to_param_values() const noexcept;

    // Pretty JSON text: two-space indentation, fields in order, no final
    // line feed; non-finite floats are written as null.
    std::string to_json() const;

    // Strict reader for the object or array form; failures carry the
    // reader's message as a `Json` PresetError. No partial record.
    static PresetResult<TessellgrovePreset> from_json(std::string_view text);

    friend bool operator==(const TessellgrovePreset&, const TessellgrovePreset&) = default;
};

// Number of fields of the record, `name` included.
inline constexpr std::size_t preset_field_count = 30;

// JSON keys of the record in field order.
extern const std::array<std::string_view, preset_field_count> preset_field_keys;

// Shortest decimal text that reads back to the same 32-bit float, always
// with a fractional part or an exponent; "null" for a non-finite value.
std::string format_preset_float(float value);

// `text` as a JSON string literal: quote, backslash and control characters
// escaped, everything else (including "/" and non-ASCII) as UTF-8.
std::string quote_json_string(std::string_view text);

} // namespace tessellgrove
