#include "plugin/params/tessellgrove_params.hpp"

#include "plugin_kit/params/host_info.hpp"
#include "plugin_kit/params/param_id.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

using plugin_kit::BoolParam;
using plugin_kit::EnumParam;
using plugin_kit::FloatParam;
using plugin_kit::IntParam;
using plugin_kit::Param;
using plugin_kit::ParamKind;
using plugin_kit::ParamMapEntry;
using tessellgrove::TessellgroveParams;

// Looks a parameter up by text id through the map, as the framework does.
class ParamSet : public ::testing::Test {
protected:
    Param& p(std::string_view id) {
        const ParamMapEntry* entry = plugin_kit::find_param_entry(map, id);
        EXPECT_NE(entry, nullptr) << id;
        return *entry->param;
    }

    TessellgroveParams params;
    std::vector<ParamMapEntry> map = params.param_map();
};

TEST_F(ParamSet, MapListsAll29InHostOrder) {
    ASSERT_EQ(map.size(), 29u);
    EXPECT_EQ(map.front().id, "input_gain");
    EXPECT_EQ(map.front().param, &params.input_gain);
    EXPECT_EQ(map.back().id, "comb_mix");
    EXPECT_EQ(map.back().param, &params.comb_mix);
    std::set<uint32_t> hashes;
    std::set<const Param*> members;
    for (const ParamMapEntry& e : map) {
        EXPECT_TRUE(e.group.empty()) << e.id;
        hashes.insert(plugin_kit::param_id_hash(e.id));
        members.insert(e.param);
    }
    EXPECT_EQ(hashes.size(), 29u) << "host ids must be distinct";
    EXPECT_EQ(members.size(), 29u);
    // Spot checks that ids, members and display names line up.
    EXPECT_EQ(p("mode_cycle_div").name(), "Mode Cycle Division");
    EXPECT_EQ(&p("mode_cycle_div"), &params.mode_cycle_div);
    EXPECT_EQ(p("trig_div").name(), "Trigger Division");
    EXPECT_EQ(&p("swarm_count"), &params.swarm_count);
    EXPECT_EQ(p("lock_freq").name(), "Lock Frequency");
}

TEST_F(ParamSet, KindsUnitsAndStepCounts) {
    struct Case {
        std::string_view id;
        ParamKind kind;
        std::string_view unit;
        uint32_t steps;
    };
    const Case cases[] = {
        {"input_gain", ParamKind::Float, " dB", 0},     {"mix", ParamKind::Float, " %", 0},
        {"lock_freq", ParamKind::Float, " Hz", 0},      {"lock_motion_enable", ParamKind::Bool, "", 1},
        {"lock_motion_rate", ParamKind::Enum, "", 8},   {"lock_motion_shape", ParamKind::Enum, "", 4},
        {"carrier_mode", ParamKind::Enum, "", 2},       {"mode_cycle_div", ParamKind::Enum, "", 3},
        {"formant_morph_rate", ParamKind::Float, " Hz", 0}, {"formant_position", ParamKind::Float, "", 0},
        {"swarm_count", ParamKind::Int, "", 14},        {"trig_div", ParamKind::Enum, "", 3},
        {"char_mode", ParamKind::Enum, "", 3},          {"comb_mix", ParamKind::Float, "", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(p(c.id).kind(), c.kind) << c.id;
        EXPECT_EQ(p(c.id).unit(), c.unit) << c.id;
        EXPECT_EQ(p(c.id).step_count(), c.steps) << c.id;
    }
}

TEST_F(ParamSet, DefaultNormalisedValuesAndTexts) {
    struct Case {
        std::string_view id;
        float normalized;
        std::string_view text; // without unit
    };
    const Case cases[] = {
        {"input_gain", 0.5f, "0.0"},
        {"output_gain", 2.0f / 3.0f, "0.0"},
        {"mix", 0.5f, "50"},
        {"stereo_width", 0.5f, "100"},
        {"lock_freq", 0.5329f, "440 Hz"},
        {"comb_tuning", 0.5389f, "440 Hz"},
        {"swarm_count", 1.0f / 7.0f, "4"},
        {"lock_motion_rate", 0.5f, "1/4"},
        {"trig_div", 1.0f / 3.0f, "1/8"},
        {"carrier_mode", 0.0f, "Formant"},
        {"formant_position", 0.5f, "0.50"},
        {"lock_motion_enable", 0.0f, "Off"},
    };
    for (const Case& c : cases) {
        const Param& param = p(c.id);
        EXPECT_NEAR(param.default_normalized_value(), c.normalized, 1e-4f) << c.id;
        EXPECT_EQ(param.normalized_value(), param.default_normalized_value()) << c.id;
        EXPECT_EQ(param.normalized_value_to_string(param.normalized_value(), false), c.text) << c.id;
    }
}

TEST_F(ParamSet, ClapAndVst3Texts) {
    struct Case {
        std::string_view id;
        float plain;
        std::string_view clap;
        std::string_view vst3;
    };
    const Case cases[] = {
        {"input_gain", -3.25f, "-3.3 dB", "-3.3"},
        {"input_gain", -0.04f, "0.0 dB", "0.0"},
        {"input_gain", 12.0f, "12.0 dB", "12.0"},
        {"mix", 0.5f, "50 %", "50"},
        {"comb_mix", 0.5f, "50", "50"},
        {"lock_freq", 440.0f, "440 Hz", "440 Hz"},
        {"lock_freq", 999.7f, "1000 Hz", "1000 Hz"},
        {"lock_freq", 1000.0f, "1.0 kHz", "1.0 kHz"},
        {"lock_freq", 1234.5f, "1.2 kHz", "1.2 kHz"},
        {"lock_freq", 5000.0f, "5.0 kHz", "5.0 kHz"},
        {"comb_tuning", 20.0f, "20 Hz", "20 Hz"},
        {"formant_morph_rate", 2.5f, "2.50 Hz", "2.50"},
        {"formant_position", 0.5f, "0.50", "0.50"},
    };
    for (const Case& c : cases) {
        const auto& param = static_cast<const FloatParam&>(p(c.id));
        EXPECT_EQ(param.plain_value_to_string(c.plain, true), c.clap) << c.id << " " << c.plain;
        EXPECT_EQ(param.plain_value_to_string(c.plain, false), c.vst3) << c.id << " " << c.plain;
        // The host-facing helpers print the plain value a normalised value stands for.
        const float n = param.preview_normalized(c.plain);
        const float shown = param.preview_plain(n);
        EXPECT_EQ(plugin_kit::clap_value_to_text(param, plugin_kit::clap_value_from_normalized(param, n)),
                  param.plain_value_to_string(shown, true));
        EXPECT_EQ(plugin_kit::vst3_value_to_text(param, static_cast<double>(n)), param.plain_value_to_string(shown, false));
    }
    EXPECT_EQ(plugin_kit::vst3_units(params.mix), " %");
    EXPECT_EQ(plugin_kit::vst3_units(params.lock_motion_rate), "");
}

// What typing a text sets, as a plain value read back through the parameter.
TEST_F(ParamSet, TypedInput) {
    struct Case {
        std::string_view id;
        std::string_view text;
        std::optional<double> plain; // nullopt: the text is refused and nothing changes
    };
    const Case cases[] = {
        {"mix", "75%", 0.75},          {"mix", " 75 % ", 0.75},       {"mix", "75", 0.75},
        {"mix", "150", 1.0},           {"stereo_width", "150", 1.5},  {"mix", "inf", std::nullopt},
        {"comb_mix", "0.5", 0.5},      {"comb_mix", "50", 1.0},       {"comb_mix", "50%", std::nullopt},
        {"lock_freq", "440 Hz", 440.0}, {"lock_freq", "440", 440.0},  {"lock_freq", "440Hz", std::nullopt},
        {"lock_freq", "1.2 kHz", std::nullopt}, {"lock_freq", "1200", 1200.0}, {"lock_freq", "10", 40.0},
        {"lock_freq", "nan", std::nullopt}, {"lock_freq", "1e40", std::nullopt},
        {"input_gain", "-6 dB", -6.0}, {"formant_morph_rate", "2.5 Hz", 2.5},
        {"lock_motion_enable", "ON", 1.0}, {"lock_motion_enable", " true ", 1.0},
        {"lock_motion_enable", "yes", 0.0}, {"lock_motion_enable", "1", 0.0}, {"lock_motion_enable", "", 0.0},
        {"lock_motion_rate", "1/4", 4.0}, {"lock_motion_rate", "1/4t", std::nullopt},
        {"lock_motion_rate", " 1/8T ", 8.0}, {"char_mode", "Fold", 3.0}, {"char_mode", "fold", std::nullopt},
        {"swarm_count", "+5", 5.0},    {"swarm_count", "5.0", std::nullopt}, {"swarm_count", "-3", 2.0},
    };
    for (const Case& c : cases) {
        Param& param = p(c.id);
        param.set_normalized_value(0.0f);
        param.set_normalized_value(param.default_normalized_value());
        const float before = param.normalized_value();
        const std::optional<float> n = param.string_to_normalized_value(c.text);
        ASSERT_EQ(n.has_value(), c.plain.has_value()) << c.id << " \"" << c.text << '"';
        if (!n) {
            EXPECT_EQ(param.normalized_value(), before);
            continue;
        }
        param.set_normalized_value(*n);
        double got = 0.0;
        switch (param.kind()) {
        case ParamKind::Float: got = static_cast<double>(static_cast<FloatParam&>(param).value()); break;
        case ParamKind::Int: got = static_cast<IntParam&>(param).value(); break;
        case ParamKind::Bool: got = static_cast<BoolParam&>(param).value() ? 1.0 : 0.0; break;
        case ParamKind::Enum: got = static_cast<EnumParam&>(param).value(); break;
        }
        EXPECT_NEAR(got, *c.plain, 1e-3 * std::fabs(*c.plain) + 1e-6) << c.id << " \"" << c.text << '"';
    }
}

TEST_F(ParamSet, HostNormalisedValuesToPlain) {
    struct Case {
        std::string_view id;
        float normalized;
        double plain;
        std::string_view text;
    };
    const Case cases[] = {
        {"lock_freq", 0.5f, 350.0, "350 Hz"},
        {"comb_tuning", 0.5f, 331.25, "331 Hz"},
        {"formant_morph_rate", 0.5f, 2.5, "2.50"},
        {"lock_motion_rate", 0.25f, 2.0, "1 bar"},
        {"lock_motion_rate", 0.5f, 4.0, "1/4"},
        {"carrier_mode", 0.25f, 1.0, "Stoch"},   // 2 x 0.25 = 0.5 rounds away from zero
        {"carrier_mode", 0.2f, 0.0, "Formant"},
        {"swarm_count", 0.5f, 9.0, "9"},
        {"swarm_count", 1.0f, 16.0, "16"},
        {"comb_feedback", 1.0f, 0.95, "0.95"},
        {"lock_motion_enable", 0.5f, 0.0, "Off"},
    };
    for (const Case& c : cases) {
        Param& param = p(c.id);
        param.set_normalized_value(c.normalized);
        double got = 0.0;
        switch (param.kind()) {
        case ParamKind::Float: got = static_cast<double>(static_cast<FloatParam&>(param).value()); break;
        case ParamKind::Int: got = static_cast<IntParam&>(param).value(); break;
        case ParamKind::Bool: got = static_cast<BoolParam&>(param).value() ? 1.0 : 0.0; break;
        case ParamKind::Enum: got = static_cast<EnumParam&>(param).value(); break;
        }
        EXPECT_NEAR(got, c.plain, 1e-4 * std::fabs(c.plain)) << c.id << " at " << c.normalized;
        EXPECT_EQ(param.normalized_value_to_string(param.normalized_value(), false), c.text) << c.id;
    }
}

TEST_F(ParamSet, ClapMaximaAndDefaults) {
    struct Case {
        std::string_view id;
        double max_value;
        double default_value;
    };
    const Case cases[] = {
        {"swarm_count", 14.0, 2.0},
        {"trig_div", 3.0, 1.0},
        {"stereo_width", 1.0, 0.5},
        {"lock_motion_rate", 8.0, 4.0},
        {"lock_motion_enable", 1.0, 0.0},
        {"char_mode", 3.0, 0.0},
    };
    for (const Case& c : cases) {
        const plugin_kit::ClapParamFacts facts = plugin_kit::clap_param_facts(*plugin_kit::find_param_entry(map, c.id));
        EXPECT_EQ(facts.max_value, c.max_value) << c.id;
        EXPECT_EQ(facts.default_value, c.default_value) << c.id;
        EXPECT_EQ(facts.stepped, p(c.id).step_count() != 0) << c.id;
    }
}

// Every parameter: plain -> normalised -> plain gives back the plain value,
// across its whole range (what a preset load through normalised values does).
TEST_F(ParamSet, PlainNormalisedPlainRoundTripOverAll29) {
    TessellgroveParams other;
    const std::vector<ParamMapEntry> other_map = other.param_map();
    for (std::size_t i = 0; i < map.size(); ++i) {
        Param& src = *map[i].param;
        Param& dst = *other_map[i].param;
        switch (src.kind()) {
        case ParamKind::Float: {
            auto& s = static_cast<FloatParam&>(src);
            auto& d = static_cast<FloatParam&>(dst);
            const float lo = s.range().min;
            const float hi = s.range().max;
            for (int k = 0; k <= 20; ++k) {
                const float plain = lo + (hi - lo) * static_cast<float>(k) / 20.0f;
                s.set_plain_value(plain);
                d.set_normalized_value(s.normalized_value());
                EXPECT_NEAR(d.value(), plain, 2e-6f * (hi - lo) + 1e-5f * std::fabs(plain)) << map[i].id;
            }
            break;
        }
        case ParamKind::Int:
        case ParamKind::Enum: {
            auto& s = static_cast<plugin_kit::PlainParam<int32_t>&>(src);
            auto& d = static_cast<plugin_kit::PlainParam<int32_t>&>(dst);
            const int32_t lo = s.preview_plain(0.0f);
            const int32_t hi = s.preview_plain(1.0f);
            EXPECT_EQ(static_cast<uint32_t>(hi - lo), s.step_count()) << map[i].id;
            for (int32_t plain = lo; plain <= hi; ++plain) {
                s.set_plain_value(plain);
                d.set_normalized_value(s.normalized_value());
                EXPECT_EQ(d.value(), plain) << map[i].id;
            }
            break;
        }
        case ParamKind::Bool: {
            auto& s = static_cast<BoolParam&>(src);
            auto& d = static_cast<BoolParam&>(dst);
            for (const bool plain : {true, false}) {
                s.set_plain_value(plain);
                d.set_normalized_value(s.normalized_value());
                EXPECT_EQ(d.value(), plain) << map[i].id;
            }
            break;
        }
        }
    }
}

TEST_F(ParamSet, FieldsAreEmptyAndIgnored) {
    params.mix.set_normalized_value(0.9f);
    EXPECT_TRUE(params.serialize_fields().empty());
    params.deserialize_fields({{"mix", "0.1"}, {"anything", "x"}});
    EXPECT_FLOAT_EQ(params.mix.value(), 0.9f);
    EXPECT_TRUE(params.serialize_fields().empty());
}

TEST_F(ParamSet, StateLoadKeepsOutOfRangeValues) {
    params.comb_feedback.set_plain_value(1.0f);
    params.char_mode.set_plain_value(9);
    EXPECT_EQ(params.comb_feedback.value(), 1.0f);
    EXPECT_EQ(params.comb_feedback.normalized_value(), 1.0f);
    EXPECT_EQ(params.char_mode.value(), 9);
    EXPECT_EQ(params.char_mode.normalized_value(), 1.0f);
    EXPECT_EQ(params.char_mode.normalized_value_to_string(params.char_mode.normalized_value(), true), "Fold");
}

} // namespace
