#include "plugin/presets/factory_presets.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace tessellgrove {
namespace {

// One factory row; `input_gain`, `output_gain`, `mode_cycle_enable` and
// `mode_cycle_div` are the same (defaults) in every preset.
struct FactoryRow {
    const char* name;
    float mix, stereo_width, lock_freq;
    std::uint8_t carrier_mode;
    float carrier_env_amount;
    std::uint8_t char_mode;
    float char_amount;
    float formant_position, formant_width, formant_morph_rate;
    float stoch_spread, stoch_density, stoch_smoothing;
    std::int32_t swarm_count;
    float swarm_spread, swarm_drift;
    std::uint8_t trig_div;
    float trig_amount;
    bool lock_motion_enable;
    std::uint8_t lock_motion_rate;
    float lock_motion_depth;
    std::uint8_t lock_motion_shape;
    float comb_feedback, comb_tuning, comb_mix;
};

// clang-format off
constexpr std::array<FactoryRow, 28> rows = {{
    //  name                   mix   width lock   cm env   chm chamt  fpos  fwid  fmr   sspr  sden  ssm   cnt wspr  wdr   tdv tamt  lme    lmr lmd    lms cfb    ctun   cmix
    {"Init",                  0.5f, 1.0f, 440,  0, 0.0f,  0, 0.5f,  0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, false, 4, 0.5f,  0, 0.0f,   440,   0.0f},
    {"Radio Static",          0.7f, 1.0f, 1200, 0, 0.0f,  1, 0.7f,  0.3f, 0.8f, 0.0f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, true,  5, 0.15f, 4, 0.0f,   440,   0.0f},
    {"Robot Voice",           0.85f,1.0f, 150,  0, 0.0f,  0, 0.5f,  0.5f, 0.4f, 0.0f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, false, 4, 0.5f,  0, 0.0f,   440,   0.0f},
    {"Metallic Shimmer",      0.55f,1.0f, 2500, 2, 0.0f,  0, 0.5f,  0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f,  8, 0.25f,0.1f,  1, 0.0f, true,  1, 0.2f,  0, 0.0f,   440,   0.0f},
    {"Vowel Sweep",           0.75f,1.0f, 220,  0, 0.0f,  2, 0.5f,  0.0f, 0.7f, 1.2f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, false, 4, 0.5f,  0, 0.0f,   440,   0.0f},
    {"Talking Synth",         0.75f,1.0f, 300,  0, 0.0f,  2, 0.4f,  0.2f, 0.55f,2.5f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, false, 4, 0.5f,  0, 0.0f,   440,   0.0f},
    {"Synth Vowels",          0.8f, 1.0f, 250,  0, 0.0f,  2, 0.5f,  0.0f, 0.7f, 1.5f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, false, 4, 0.5f,  0, 0.0f,   440,   0.0f},
    {"Sci-Fi Scanner",        0.85f,1.0f, 500,  0, 0.0f,  0, 0.5f,  0.0f, 0.8f, 4.0f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, true,  3, 0.5f,  1, 0.0f,   440,   0.0f},
    {"Glitch Rhythm",         0.8f, 1.0f, 880,  1, 0.0f,  1, 0.5f,  0.5f, 0.5f, 0.0f, 0.7f, 0.8f, 0.2f,  4, 0.2f, 0.3f,  2, 0.6f, true,  5, 0.4f,  3, 0.0f,   440,   0.0f},
    {"Broken Transmission",   0.75f,1.0f, 600,  1, 0.0f,  1, 0.6f,  0.5f, 0.5f, 0.0f, 0.5f, 0.6f, 0.1f,  4, 0.2f, 0.3f,  3, 0.7f, true,  6, 0.5f,  4, 0.0f,   440,   0.0f},
    {"Granular Chaos",        0.9f, 1.0f, 1000, 1, 0.0f,  3, 0.7f,  0.5f, 0.5f, 0.0f, 0.9f, 0.9f, 0.3f,  4, 0.2f, 0.3f,  2, 0.4f, true,  5, 0.6f,  2, 0.0f,   440,   0.0f},
    {"Stepped Destruction",   0.9f, 1.0f, 700,  1, 0.0f,  3, 0.85f, 0.5f, 0.5f, 0.0f, 0.8f, 0.7f, 0.15f, 4, 0.2f, 0.3f,  2, 0.7f, true,  6, 0.8f,  4, 0.0f,   440,   0.0f},
    {"Spectral Cloud",        0.75f,1.2f, 330,  2, 0.0f,  2, 0.4f,  0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f, 12, 0.4f, 0.5f,  0, 0.15f,true,  2, 0.3f,  0, 0.0f,   440,   0.0f},
    {"Warm Chorus",           0.6f, 1.0f, 440,  2, 0.0f,  2, 0.8f,  0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f,  8, 0.25f,0.35f, 1, 0.0f, true,  2, 0.15f, 0, 0.0f,   440,   0.0f},
    {"Dense Texture",         0.6f, 1.0f, 500,  2, 0.0f,  2, 0.5f,  0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f, 16, 0.5f, 0.6f,  1, 0.0f, true,  0, 0.25f, 0, 0.0f,   440,   0.0f},
    {"Ambient Wash",          0.45f,1.0f, 360,  2, 0.0f,  0, 0.0f,  0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f,  8, 0.35f,0.5f,  1, 0.0f, true,  0, 0.3f,  0, 0.0f,   440,   0.0f},
    {"Pad Thickener",         0.55f,1.0f, 180,  2, 0.0f,  2, 0.55f, 0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f, 10, 0.35f,0.4f,  1, 0.0f, true,  1, 0.2f,  0, 0.0f,   440,   0.0f},
    {"Keys Sparkle",          0.4f, 1.0f, 1800, 2, 0.3f,  0, 0.5f,  0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f,  6, 0.2f, 0.15f, 1, 0.0f, true,  3, 0.15f, 1, 0.0f,   440,   0.0f},
    {"Organ Swell",           0.5f, 1.0f, 320,  2, 0.2f,  2, 0.65f, 0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f,  8, 0.25f,0.35f, 1, 0.0f, true,  2, 0.25f, 0, 0.0f,   440,   0.0f},
    {"Gritty Edge",           0.7f, 1.0f, 350,  0, 0.0f,  1, 1.0f,  0.6f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, false, 4, 0.5f,  0, 0.0f,   440,   0.0f},
    {"Folded Harmonics",      0.65f,1.0f, 200,  2, 0.0f,  3, 0.9f,  0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f,  6, 0.1f, 0.2f,  1, 0.0f, true,  3, 0.3f,  1, 0.0f,   440,   0.0f},
    {"Lo-Fi Warmth",          0.7f, 1.0f, 280,  0, 0.0f,  2, 1.0f,  0.4f, 0.75f,0.5f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, true,  1, 0.2f,  0, 0.0f,   440,   0.0f},
    {"Harsh Metallic",        0.85f,1.0f, 3500, 0, 0.0f,  3, 0.8f,  0.7f, 0.9f, 0.0f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, true,  5, 0.35f, 2, 0.0f,   440,   0.0f},
    {"Slow Drift",            0.65f,1.0f, 400,  2, 0.0f,  2, 0.4f,  0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f, 10, 0.4f, 0.8f,  1, 0.0f, true,  0, 0.6f,  0, 0.0f,   440,   0.0f},
    {"Rhythmic Pulse",        0.7f, 1.0f, 550,  0, 0.0f,  1, 0.4f,  0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  2, 0.5f, true,  4, 0.7f,  3, 0.0f,   440,   0.0f},
    {"Octave Wobble",         0.75f,1.0f, 440,  0, 0.0f,  0, 0.5f,  0.5f, 0.5f, 0.0f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, true,  4, 1.0f,  0, 0.0f,   440,   0.0f},
    {"Bass Transformer",      0.8f, 1.0f, 100,  0, 0.4f,  1, 0.7f,  0.3f, 0.6f, 0.0f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, true,  5, 0.6f,  2, 0.0f,   440,   0.0f},
    {"Combover",              0.7f, 1.0f, 89,   0, 0.685f,3, 0.672f,0.4f, 0.75f,0.5f, 0.3f, 0.5f, 0.5f,  4, 0.2f, 0.3f,  1, 0.0f, true,  1, 0.594f,0, 0.804f, 50.6f, 0.967f},
}};
// clang-format on

std::vector<TessellgrovePreset> build_factory_presets() {
    std::vector<TessellgrovePreset> out;
    out.reserve(rows.size());
    for (const FactoryRow& r : rows) {
        TessellgrovePreset p;
        p.name = r.name;
        p.input_gain = 0.0f;
        p.mix = r.mix;
        p.output_gain = 0.0f;
        p.stereo_width = r.stereo_width;
        p.lock_freq = r.lock_freq;
        p.carrier_mode = r.carrier_mode;
        p.carrier_env_amount = r.carrier_env_amount;
        p.mode_cycle_enable = false;
        p.mode_cycle_div = 0;
        p.formant_position = r.formant_position;
        p.formant_width = r.formant_width;
        p.formant_morph_rate = r.formant_morph_rate;
        p.stoch_spread = r.stoch_spread;
        p.stoch_density = r.stoch_density;
        p.stoch_smoothing = r.stoch_smoothing;
        p.swarm_count = r.swarm_count;
        p.swarm_spread = r.swarm_spread;
        p.swarm_drift = r.swarm_drift;
        p.trig_div = r.trig_div;
        p.trig_amount = r.trig_amount;
        p.char_mode = r.char_mode;
        p.char_amount = r.char_amount;
        p.comb_feedback = r.comb_feedback;
        p.comb_tuning = r.comb_tuning;
        p.comb_mix = r.comb_mix;
        p.lock_motion_enable = r.lock_motion_enable;
        p.lock_motion_rate = r.lock_motion_rate;
        p.lock_motion_depth = r.lock_motion_depth;
        p.lock_motion_shape = r.lock_motion_shape;
        out.push_back(std::move(p));
    }
    return out;
}

} // namespace

std::span<const TessellgrovePreset> FactoryPresetList::records() const {
    // Built by the first caller; concurrent first callers wait for it
    // (function-local static initialisation is thread-safe).
    static const std::vector<TessellgrovePreset> presets = build_factory_presets();
    return presets;
}

const TessellgrovePreset* FactoryPresetList::find(std::string_view name) const {
    const auto list = records();
    const auto it = std::find_if(list.begin(), list.end(), [&](const TessellgrovePreset& p) { return p.name == name; });
    return it == list.end() ? nullptr : &*it;
}

} // namespace tessellgrove
