#pragma once
// Shared helpers for the engine comparison tests: applying a factory preset
// the way a preset load does, deterministic noise input, and random host
// automation of all 29 parameters.

#include <cstdint>
#include <random>
#include <vector>

#include "plugin/params/tessellgrove_params.hpp"
#include "plugin/presets/tessellgrove_preset.hpp"

namespace tessellgrove::test {

// Every normalised value of `preset` through the parameter's own setter.
inline void apply_preset(TessellgroveParams& params, const TessellgrovePreset& preset)
{
    const std::vector<plugin_kit::ParamMapEntry> map = params.param_map();
    for (const auto& [id, value] : preset.to_param_values()) {
        if (const plugin_kit::ParamMapEntry* entry = plugin_kit::find_param_entry(map, id)) {
            entry->param->set_normalized_value(value);
        }
    }
}

// White noise in [-0.5, 0.5) from a fixed xorshift sequence.
inline std::vector<float> noise(std::size_t frames, uint32_t seed)
{
    std::vector<float> out(frames);
    uint32_t x = seed;
    for (float& v : out) {
        x ^= x << 13u;
        x ^= x >> 17u;
        x ^= x << 5u;
        v = (static_cast<float>(x) * 0x1p-32f * 2.0f - 1.0f) * 0.5f;
    }
    return out;
}

// Moves each parameter to a random normalised value with probability
// `chance`, the way host automation lands between blocks.
inline void automate(TessellgroveParams& params, std::mt19937& rng, double chance)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::bernoulli_distribution move(chance);
    for (const plugin_kit::ParamMapEntry& entry : params.param_map()) {
        if (move(rng)) {
            entry.param->set_normalized_value(unit(rng));
        }
    }
}

// Copies every normalised value of `from` into `to`.
inline void copy_params(TessellgroveParams& from, TessellgroveParams& to)
{
    const std::vector<plugin_kit::ParamMapEntry> target = to.param_map();
    for (const plugin_kit::ParamMapEntry& entry : from.param_map()) {
        plugin_kit::find_param_entry(target, entry.id)->param->set_normalized_value(entry.param->normalized_value());
    }
}

} // namespace tessellgrove::test
