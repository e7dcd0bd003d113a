#pragma once
// The plug-in state hosts store in their projects: a compact JSON text of
// every parameter's unmodulated plain value, and the strict reader that
// applies such a text back to a parameter set.
//
//   {"version":"0.1.0","params":{"<id>":{"f32":0.5},...},"fields":{}}
//
// "params" members are sorted by id in ascending byte order, each a
// one-member object keyed by the value's type ("f32" floats, "i32" integers
// and enumeration indices, "bool" switches, "string" stable variant ids).
// Floats are written in the shortest form that reads back to the same 32-bit
// value, whole numbers keeping ".0". Loading parses the whole text first and
// applies nothing unless it is valid, so a failed load changes nothing.
//
// Threads: main thread (the adapters serialise state calls with processing).

#include "plugin_kit/params/params.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace plugin_kit {

// Shortest text that reads back to `value` as a 32-bit float; whole numbers
// keep ".0" ("440.0"), very large or small ones use an exponent ("1e20",
// "1.5e-7"). Non-finite values, which JSON cannot carry, are written "null".
std::string format_state_f32(float value);

// The state text of `params` (unmodulated plain values) with `version`.
std::string write_state_json(Params& params, std::string_view version);

// One "params" member as read from a state text.
struct StateF32 {
    // nullopt when the number lies outside the 32-bit float range: such a
    // member is skipped on apply, like a value of the wrong kind.
    std::optional<float> value;
};
struct StateI32 {
    int32_t value = 0;
};
struct StateBool {
    bool value = false;
};
struct StateString {
    std::string value;
};
using StateParamValue = std::variant<StateF32, StateI32, StateBool, StateString>;

// A state text that parsed; nothing applied yet.
struct ParsedState {
    std::string version; // empty when the text had none
    // By id in ascending byte order, each id once (the last value given wins).
    std::vector<std::pair<std::string, StateParamValue>> params;
    std::map<std::string, std::string> fields;
};

// A parse result: the state, or why the text is not one.
struct StateParseResult {
    std::optional<ParsedState> state;
    std::string error; // empty on success
};

// Reads a state text: one JSON object with "params" and "fields" (and
// optionally "version"; other members ignored), or an array of exactly
// [version, params, fields]. A top-level member given twice, a syntax error or
// a value of the wrong JSON type fails the whole text. Never throws.
StateParseResult parse_state_json(std::string_view text) noexcept;

// Applies a parsed state: every known id whose value key matches its kind
// (float/"f32", integer/"i32", boolean/"bool", enumeration/"i32") gets the
// plain value unchanged, even outside its range; unknown ids, mismatched
// kinds, out-of-range floats and "string" values are skipped. Parameters the
// state does not mention keep their values. "fields" goes to
// deserialize_fields.
void apply_state(Params& params, const ParsedState& state);

// parse_state_json, then apply_state when it parsed. True on success; on
// failure nothing changed.
bool load_state_json(Params& params, std::string_view text);

} // namespace plugin_kit
