#include "plugin/presets/factory_presets.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tessellgrove {
namespace {

TEST(FactoryPresets, TwentyEightNamedRecordsInListOrder) {
    const std::vector<std::string> names = {
        "Init", "Radio Static", "Robot Voice", "Metallic Shimmer", "Vowel Sweep", "Talking Synth",
        "Synth Vowels", "Sci-Fi Scanner", "Glitch Rhythm", "Broken Transmission", "Granular Chaos",
        "Stepped Destruction", "Spectral Cloud", "Warm Chorus", "Dense Texture", "Ambient Wash",
        "Pad Thickener", "Keys Sparkle", "Organ Swell", "Gritty Edge", "Folded Harmonics", "Lo-Fi Warmth",
        "Harsh Metallic", "Slow Drift", "Rhythmic Pulse", "Octave Wobble", "Bass Transformer", "Combover",
    };
    ASSERT_EQ(FACTORY_PRESETS.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(FACTORY_PRESETS[i].name, names[i]);
        EXPECT_EQ(FACTORY_PRESETS.find(names[i]), &FACTORY_PRESETS[i]);
    }
}

TEST(FactoryPresets, LookupIsExact) {
    for (const char* missing : {"init", "INIT", " Init", "Init ", "", "Combover2"}) {
        EXPECT_EQ(FACTORY_PRESETS.find(missing), nullptr) << missing;
    }
}

TEST(FactoryPresets, InitHoldsTheDefaultsAndSharedFieldsAreDefaults) {
    TessellgrovePreset defaults;
    defaults.name = "Init";
    EXPECT_EQ(*FACTORY_PRESETS.find("Init"), defaults);
    for (const TessellgrovePreset& p : FACTORY_PRESETS) {
        EXPECT_EQ(p.input_gain, 0.0f) << p.name;
        EXPECT_EQ(p.output_gain, 0.0f) << p.name;
        EXPECT_FALSE(p.mode_cycle_enable) << p.name;
        EXPECT_EQ(p.mode_cycle_div, 0) << p.name;
    }
}

TEST(FactoryPresets, OnlyComboverMovesTheCombFilter) {
    for (const TessellgrovePreset& p : FACTORY_PRESETS) {
        const bool comb_default = p.comb_feedback == 0.0f && p.comb_tuning == 440.0f && p.comb_mix == 0.0f;
        EXPECT_EQ(comb_default, p.name != "Combover") << p.name;
    }
    const TessellgrovePreset& c = *FACTORY_PRESETS.find("Combover");
    EXPECT_EQ(c.comb_feedback, 0.804f);
    EXPECT_EQ(c.comb_tuning, 50.6f);
    EXPECT_EQ(c.comb_mix, 0.967f);
}

// Every factory value lies inside its parameter's range, so loading one
// never relies on clamping: all normalised values are within 0..1.
TEST(FactoryPresets, NormalisedValuesInRange) {
    for (const TessellgrovePreset& p : FACTORY_PRESETS) {
        for (const auto& [id, v] : p.to_param_values()) {
            EXPECT_GE(v, 0.0f) << p.name << " " << id;
            EXPECT_LE(v, 1.0f) << p.name << " " << id;
        }
    }
}

TEST(FactoryPresets, ConcurrentReadersSeeOneTable) {
    std::vector<const TessellgrovePreset*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &FACTORY_PRESETS[0]; });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(std::set<const TessellgrovePreset*>(seen.begin(), seen.end()).size(), 1u);
}

} // namespace
} // namespace tessellgrove
