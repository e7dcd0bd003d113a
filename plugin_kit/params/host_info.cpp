#include "plugin_kit/params/host_info.hpp"

#include "plugin_kit/params/param_id.hpp"

#include <algorithm>
#include <cmath>

namespace plugin_kit {

namespace {

float clamp_unit(double n) noexcept {
    if (std::isnan(n)) {
        return 0.0f;
    }
    return static_cast<float>(std::clamp(n, 0.0, 1.0));
}

} // namespace

ClapParamFacts clap_param_facts(const ParamMapEntry& entry) noexcept {
    ClapParamFacts facts;
    facts.id = param_id_hash(entry.id);
    facts.module = entry.group;
    if (entry.param != nullptr) {
        facts.stepped = entry.param->step_count() != 0;
        facts.name = entry.param->name();
        facts.max_value = clap_max_value(*entry.param);
        facts.default_value = clap_default_value(*entry.param);
    }
    return facts;
}

Vst3ParamFacts vst3_param_facts(const ParamMapEntry& entry) noexcept {
    Vst3ParamFacts facts;
    facts.id = param_id_hash(entry.id);
    if (entry.param != nullptr) {
        facts.title = entry.param->name();
        facts.short_title = entry.param->name();
        facts.units = vst3_units(*entry.param);
        facts.step_count = static_cast<int32_t>(entry.param->step_count());
        facts.default_normalized = static_cast<double>(entry.param->default_normalized_value());
    }
    return facts;
}

double clap_max_value(const Param& param) noexcept {
    const uint32_t steps = param.step_count();
    return steps == 0 ? 1.0 : static_cast<double>(steps);
}

double clap_default_value(const Param& param) noexcept {
    return clap_value_from_normalized(param, param.default_normalized_value());
}

double clap_value_from_normalized(const Param& param, float normalized) noexcept {
    const float n = clamp_unit(static_cast<double>(normalized));
    const uint32_t steps = param.step_count();
    if (steps == 0) {
        return static_cast<double>(n);
    }
    if (param.kind() == ParamKind::Bool) {
        return n > 0.5f ? 1.0 : 0.0;
    }
    // The same rounding as the integer plain value: steps x n, halves away
    // from zero, in float. Multiplying in double would turn the default of
    // 1/7 into 2.0000000867 steps instead of 2.
    return static_cast<double>(round_half_away(static_cast<float>(steps) * n));
}

float normalized_from_clap_value(const Param& param, double clap_value) noexcept {
    return clamp_unit(clap_value / clap_max_value(param));
}

std::string clap_value_to_text(const Param& param, double clap_value) {
    return param.normalized_value_to_string(normalized_from_clap_value(param, clap_value), true);
}

std::optional<double> clap_text_to_value(const Param& param, std::string_view text) {
    const std::optional<float> n = param.string_to_normalized_value(text);
    if (!n) {
        return std::nullopt;
    }
    return clap_value_from_normalized(param, *n);
}

std::string_view vst3_units(const Param& param) noexcept {
    const ParamKind kind = param.kind();
    return (kind == ParamKind::Float || kind == ParamKind::Int) ? param.unit() : std::string_view{};
}

std::string vst3_value_to_text(const Param& param, double normalized) {
    return param.normalized_value_to_string(clamp_unit(normalized), false);
}

std::optional<double> vst3_text_to_normalized(const Param& param, std::string_view text) {
    const std::optional<float> n = param.string_to_normalized_value(text);
    if (!n) {
        return std::nullopt;
    }
    return static_cast<double>(*n);
}

} // namespace plugin_kit
