// Tessellgrove loaded from the built library through CLAP and through VST3
// by the in-repo host: the parameters as hosts list them, state round trips
// through fresh instances, and the same audio from both formats.

#include "plugin/params/tessellgrove_params.hpp"
#include "plugin_kit/host/clap_host.hpp"
#include "plugin_kit/host/vst3_host.hpp"
#include "plugin_kit/params/param_id.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace plugin_kit::host;

const std::string library_path = TESSELLGROVE_LIBRARY;

std::unique_ptr<HostedPlugin> load(PluginFormat format) {
    LoadResult loaded = load_plugin(library_path, format);
    EXPECT_TRUE(loaded.plugin) << loaded.error;
    return std::move(loaded.plugin);
}

std::string format_case_name(const ::testing::TestParamInfo<PluginFormat>& info) {
    return std::string(format_name(info.param));
}

class Hosted : public ::testing::TestWithParam<PluginFormat> {};

TEST_P(Hosted, ListsAll29ParametersWithTextsThatReadBack) {
    const auto plugin = load(GetParam());
    ASSERT_TRUE(plugin);
    const auto params = plugin->params();
    ASSERT_EQ(params.size(), tessellgrove::param_ids.size());
    for (size_t i = 0; i < params.size(); ++i) {
        const HostParamInfo& p = params[i];
        EXPECT_EQ(p.id, plugin_kit::param_id_hash(tessellgrove::param_ids[i])) << tessellgrove::param_ids[i];
        EXPECT_FALSE(p.name.empty());
        EXPECT_TRUE(p.automatable) << p.name;
        EXPECT_FALSE(p.read_only) << p.name;
        const auto value = plugin->param_value(p.id);
        ASSERT_TRUE(value) << p.name;
        EXPECT_EQ(*value, p.default_value) << p.name;
        // Every end of the range and the default has a text the plug-in reads back.
        for (const double v : {p.min, p.default_value, p.max}) {
            const auto shown = plugin->value_to_text(p.id, v);
            ASSERT_TRUE(shown) << p.name << " " << v;
            EXPECT_FALSE(shown->empty());
            const auto back = plugin->text_to_value(p.id, *shown);
            if (shown->ends_with(" kHz")) {
                // Frequencies are typed in hertz; a kilohertz text is refused.
                EXPECT_FALSE(back) << p.name << " '" << *shown << "'";
                continue;
            }
            ASSERT_TRUE(back) << p.name << " '" << *shown << "'";
            EXPECT_EQ(plugin->value_to_text(p.id, *back), shown) << p.name;
        }
    }
    EXPECT_FALSE(plugin->text_to_value(params[0].id, "banana"));
    EXPECT_FALSE(plugin->value_to_text(0xDEADBEEF, 0.0));
}

TEST(HostedBothFormats, SameParametersSameDefaultTexts) {
    const auto clap = load(PluginFormat::Clap);
    const auto vst3 = load(PluginFormat::Vst3);
    ASSERT_TRUE(clap && vst3);
    const auto a = clap->params();
    const auto b = vst3->params();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].id, b[i].id);
        EXPECT_EQ(a[i].name, b[i].name);
        EXPECT_EQ(a[i].step_count, b[i].step_count) << a[i].name;
        // CLAP texts carry the unit; VST3 shows it beside the value, unless
        // the value text already names it (frequencies switch Hz / kHz).
        const std::string clap_text = *clap->value_to_text(a[i].id, a[i].default_value);
        const std::string vst3_text = *vst3->value_to_text(b[i].id, b[i].default_value);
        EXPECT_TRUE(clap_text == vst3_text || clap_text == vst3_text + b[i].unit)
            << a[i].name << ": '" << clap_text << "' vs '" << vst3_text << "' + '" << b[i].unit << "'";
    }
}

// --- state ---------------------------------------------------------------------------

enum class Setting { Defaults, AllMin, AllMax, Random };

// Puts every parameter at the setting, in the format's own value domain.
// Defaults leaves the fresh instance alone.
void apply(HostedPlugin& plugin, Setting setting, uint32_t seed) {
    if (setting == Setting::Defaults) {
        return;
    }
    std::mt19937 rng(seed);
    for (const HostParamInfo& p : plugin.params()) {
        double value = p.default_value;
        if (setting == Setting::AllMin) {
            value = p.min;
        } else if (setting == Setting::AllMax) {
            value = p.max;
        } else if (setting == Setting::Random) {
            value = std::uniform_real_distribution<double>(p.min, p.max)(rng);
            if (p.step_count > 0) {
                // Snap to a step (plain index for CLAP, step / count for VST3).
                const double span = p.max - p.min;
                value = p.min + std::round((value - p.min) / span * p.step_count) * span / p.step_count;
            }
        }
        ASSERT_TRUE(plugin.set_param(p.id, value)) << p.name;
    }
}

struct StateCase {
    PluginFormat format;
    Setting setting;
    uint64_t piece; // bytes per stream call
};

class HostedState : public ::testing::TestWithParam<StateCase> {};

TEST_P(HostedState, SaveIntoANewInstanceAndSaveAgainGivesTheSameBytes) {
    const StateCase c = GetParam();
    const auto first = load(c.format);
    ASSERT_TRUE(first);
    apply(*first, c.setting, 11);
    // Streams move at most `piece` bytes per call, both ways and in both
    // formats.
    const StreamPieces pieces{c.piece, c.piece};
    const auto saved = first->save_state(pieces);
    ASSERT_TRUE(saved);

    const auto second = load(c.format);
    ASSERT_TRUE(second);
    const auto fresh = second->save_state();
    ASSERT_TRUE(fresh);
    EXPECT_EQ(*fresh == *saved, c.setting == Setting::Defaults) << "a changed setting shows in the state";
    ASSERT_TRUE(second->load_state(*saved, pieces));
    const auto again = second->save_state(pieces);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *saved);
    // The loaded instance holds the saved plain values; the normalised value
    // VST3 reports may differ from the one first set by float rounding only.
    for (const HostParamInfo& p : first->params()) {
        EXPECT_NEAR(*second->param_value(p.id), *first->param_value(p.id), 1e-6 * (p.max - p.min)) << p.name;
    }
}

std::string state_case_name(const ::testing::TestParamInfo<StateCase>& info) {
    const char* settings[] = {"Defaults", "AllMin", "AllMax", "Random"};
    return std::string(format_name(info.param.format)) + "_" + settings[static_cast<int>(info.param.setting)] +
           "_pieces" + std::to_string(info.param.piece);
}

std::vector<StateCase> state_cases() {
    std::vector<StateCase> cases;
    for (const PluginFormat format : {PluginFormat::Clap, PluginFormat::Vst3}) {
        for (const Setting setting : {Setting::Defaults, Setting::AllMin, Setting::AllMax, Setting::Random}) {
            for (const uint64_t piece : {1u, 17u}) {
                cases.push_back({format, setting, piece});
            }
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Tessellgrove, HostedState, ::testing::ValuesIn(state_cases()), state_case_name);

TEST(HostedBothFormats, TheSameSettingsGiveTheSameStateText) {
    for (const Setting setting : {Setting::Defaults, Setting::AllMin, Setting::AllMax}) {
        const auto clap = load(PluginFormat::Clap);
        const auto vst3 = load(PluginFormat::Vst3);
        ASSERT_TRUE(clap && vst3);
        apply(*clap, setting, 5);
        apply(*vst3, setting, 5);
        const auto clap_state = clap->save_state();
        const auto vst3_state = vst3->save_state();
        ASSERT_TRUE(clap_state && vst3_state);
        ASSERT_EQ(clap_state->size(), vst3_state->size() + 8);
        // CLAP: 8-byte little-endian length, then the same JSON text.
        uint64_t length = 0;
        for (size_t i = 0; i < 8; ++i) {
            length |= static_cast<uint64_t>(static_cast<unsigned char>((*clap_state)[i])) << (8 * i);
        }
        EXPECT_EQ(length, vst3_state->size());
        EXPECT_EQ(clap_state->substr(8), *vst3_state);
        // And each format takes the other's text in its own framing.
        EXPECT_TRUE(vst3->load_state(clap_state->substr(8)));
        EXPECT_TRUE(clap->load_state(*clap_state));
    }
}

TEST_P(Hosted, RefusesAStateThatIsNotOne) {
    const auto plugin = load(GetParam());
    ASSERT_TRUE(plugin);
    ASSERT_TRUE(plugin->set_param(plugin_kit::param_id_hash("mix"), 0.25)); // plain and normalised alike
    const auto before = plugin->save_state();
    const std::string junk = "{\"version\":\"0.1.0\",\"params\":";
    std::string framed = junk;
    if (GetParam() == PluginFormat::Clap) {
        framed = std::string(8, '\0') + junk;
        framed[0] = static_cast<char>(junk.size());
    }
    EXPECT_FALSE(plugin->load_state(framed));
    EXPECT_FALSE(plugin->load_state(""));
    EXPECT_EQ(plugin->save_state(), before) << "a refused state changes nothing";
}

// --- audio -----------------------------------------------------------------------------

struct Rendered {
    std::vector<float> left, right;
};

// Renders a noisy two-tone signal through `plugin` in blocks of `block`
// frames, in place, with a running transport at 128 BPM.
Rendered render(HostedPlugin& plugin, uint32_t block) {
    constexpr uint32_t frames = 48000;
    Rendered out{std::vector<float>(frames), std::vector<float>(frames)};
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-0.1f, 0.1f);
    for (uint32_t i = 0; i < frames; ++i) {
        const float t = static_cast<float>(i) / 48000.0f;
        out.left[i] = 0.5f * std::sin(2.0f * 3.14159265f * 220.0f * t) + noise(rng);
        out.right[i] = 0.5f * std::sin(2.0f * 3.14159265f * 330.0f * t) + noise(rng);
    }
    EXPECT_TRUE(plugin.activate(48000.0, block));
    for (uint32_t start = 0; start < frames; start += block) {
        const uint32_t n = std::min(block, frames - start);
        float* io[] = {out.left.data() + start, out.right.data() + start};
        EXPECT_TRUE(plugin.process(io, io, n, HostTransport{true, 128.0}));
    }
    plugin.deactivate();
    return out;
}

// Sets parameters from typed text through the format's own text parser.
void set_by_text(HostedPlugin& plugin, std::string_view id, std::string_view text) {
    const uint32_t pid = plugin_kit::param_id_hash(id);
    const auto value = plugin.text_to_value(pid, text);
    ASSERT_TRUE(value) << id << "=" << text;
    ASSERT_TRUE(plugin.set_param(pid, *value));
}

TEST(HostedBothFormats, GiveBitIdenticalAudioForTheSameInputAndSettings) {
    std::vector<Rendered> renders;
    for (const PluginFormat format : {PluginFormat::Clap, PluginFormat::Vst3}) {
        const auto plugin = load(format);
        ASSERT_TRUE(plugin);
        set_by_text(*plugin, "char_mode", "Fold");
        set_by_text(*plugin, "carrier_mode", "Swarm");
        set_by_text(*plugin, "mix", "80");
        set_by_text(*plugin, "comb_mix", "0.5");
        set_by_text(*plugin, "lock_motion_enable", "On");
        renders.push_back(render(*plugin, 256));
    }
    ASSERT_EQ(renders[0].left.size(), renders[1].left.size());
    EXPECT_EQ(renders[0].left, renders[1].left);
    EXPECT_EQ(renders[0].right, renders[1].right);

    // The effect is really there, and finite.
    const auto dry = render(*load(PluginFormat::Clap), 256);
    double difference = 0.0;
    for (size_t i = 0; i < dry.left.size(); ++i) {
        ASSERT_TRUE(std::isfinite(renders[0].left[i]) && std::isfinite(renders[0].right[i]));
        difference += std::fabs(renders[0].left[i] - dry.left[i]);
    }
    EXPECT_GT(difference / static_cast<double>(dry.left.size()), 0.01);
}

INSTANTIATE_TEST_SUITE_P(Tessellgrove, Hosted, ::testing::Values(PluginFormat::Clap, PluginFormat::Vst3),
                         format_case_name);

} // namespace
