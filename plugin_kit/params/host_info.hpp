#pragma once
// What hosts are told about a parameter, computed once here so the CLAP and
// VST3 adapters agree with each other and with the tests.
//
// CLAP exchanges values as normalised value x maximum, where the maximum is
// the step count (1 for continuous parameters): an enumeration travels as its
// index, a boolean as 0 or 1, a float as its normalised value. VST3 exchanges
// normalised values directly.

#include "plugin_kit/params/params.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plugin_kit {

// CLAP parameter information (flags: automatable | modulatable, plus stepped
// when `stepped`; no cookie).
struct ClapParamFacts {
    uint32_t id = 0;             // param_id_hash of the text id
    bool stepped = false;        // the parameter has a step count
    std::string_view name;       // display name
    std::string_view module;     // always empty (no groups)
    double min_value = 0.0;      // always 0
    double max_value = 1.0;      // step count, or 1 when continuous
    double default_value = 0.0;  // default normalised value x max_value
};

// VST3 parameter information (flags: kCanAutomate only).
struct Vst3ParamFacts {
    uint32_t id = 0;                // param_id_hash of the text id
    std::string_view title;         // display name
    std::string_view short_title;   // display name
    std::string_view units;         // unit for float and integer parameters, else empty
    int32_t step_count = 0;         // 0 when continuous
    double default_normalized = 0.0;
    int32_t unit_id = 0;            // root unit
};

ClapParamFacts clap_param_facts(const ParamMapEntry& entry) noexcept;
Vst3ParamFacts vst3_param_facts(const ParamMapEntry& entry) noexcept;

// CLAP maximum: the step count, or 1 for continuous parameters.
double clap_max_value(const Param& param) noexcept;
// CLAP default: default normalised value x maximum (a whole step for stepped parameters).
double clap_default_value(const Param& param) noexcept;
// Normalised value as a CLAP value. Stepped parameters report the whole step
// their plain value sits on (off-grid normalised values round like the plain
// value does), so a host never sees a fractional step.
double clap_value_from_normalized(const Param& param, float normalized) noexcept;
// CLAP value from the host to a normalised value in 0..1 (NaN reads as 0).
float normalized_from_clap_value(const Param& param, double clap_value) noexcept;
// CLAP display text of a CLAP value: value text plus unit (unless the value
// text carries its own).
std::string clap_value_to_text(const Param& param, double clap_value);
// Typed text to a CLAP value; nullopt when the text is no value.
std::optional<double> clap_text_to_value(const Param& param, std::string_view text);

// VST3 units: the unit for float and integer parameters, empty otherwise.
std::string_view vst3_units(const Param& param) noexcept;
// VST3 text of a normalised value: the value text alone, never the unit.
std::string vst3_value_to_text(const Param& param, double normalized);
// Typed text to a VST3 normalised value; nullopt when the text is no value.
std::optional<double> vst3_text_to_normalized(const Param& param, std::string_view text);

} // namespace plugin_kit
