#include "plugin_kit/state/state.hpp"

#include "plugin/params/tessellgrove_params.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

namespace {

using plugin_kit::format_state_f32;
using plugin_kit::load_state_json;
using plugin_kit::write_state_json;
using tessellgrove::TessellgroveParams;

// The saved form of a fresh instance, member by member in id order.
const char* const fresh_state =
    R"({"version":"0.1.0","params":{)"
    R"("carrier_env_amount":{"f32":0.0},"carrier_mode":{"i32":0},"char_amount":{"f32":0.5},)"
    R"("char_mode":{"i32":0},"comb_feedback":{"f32":0.0},"comb_mix":{"f32":0.0},)"
    R"("comb_tuning":{"f32":440.0},"formant_morph_rate":{"f32":0.0},"formant_position":{"f32":0.5},)"
    R"("formant_width":{"f32":0.5},"input_gain":{"f32":0.0},"lock_freq":{"f32":440.0},)"
    R"("lock_motion_depth":{"f32":0.5},"lock_motion_enable":{"bool":false},"lock_motion_rate":{"i32":4},)"
    R"("lock_motion_shape":{"i32":0},"mix":{"f32":0.5},"mode_cycle_div":{"i32":0},)"
    R"("mode_cycle_enable":{"bool":false},"output_gain":{"f32":0.0},"stereo_width":{"f32":1.0},)"
    R"("stoch_density":{"f32":0.5},"stoch_smoothing":{"f32":0.5},"stoch_spread":{"f32":0.3},)"
    R"("swarm_count":{"i32":4},"swarm_drift":{"f32":0.3},"swarm_spread":{"f32":0.2},)"
    R"("trig_amount":{"f32":0.0},"trig_div":{"i32":1}},"fields":{}})";

TEST(StateWrite, FreshInstanceIsByteExact) {
    TessellgroveParams params;
    EXPECT_EQ(write_state_json(params, "0.1.0"), fresh_state);
}

TEST(StateWrite, WritesUnmodulatedValuesAndEnumIndex) {
    TessellgroveParams params;
    params.lock_motion_rate.set_normalized_value(1.0f); // "1/8T"
    params.mix.set_plain_value(0.25f);
    params.mix.set_modulation_offset(0.5f); // effective 0.75, saved 0.25
    const auto json = nlohmann::json::parse(write_state_json(params, "0.1.0"));
    EXPECT_EQ(json["params"]["lock_motion_rate"], nlohmann::json({{"i32", 8}}));
    EXPECT_EQ(json["params"]["mix"]["f32"].get<double>(), 0.25);
}

struct FloatTextCase {
    float value;
    const char* text;
};

TEST(StateWrite, FloatTextsAreShortestWithWholeNumbersKeepingADecimal) {
    const FloatTextCase cases[] = {
        {0.0f, "0.0"},          {-0.0f, "-0.0"},          {440.0f, "440.0"},
        {0.3f, "0.3"},          {0.95f, "0.95"},          {-3.25f, "-3.25"},
        {5000.0f, "5000.0"},    {12345678.0f, "12345678.0"}, {1e20f, "1e20"},
        {1.5e-7f, "1.5e-7"},    {0.0001234f, "0.0001234"}, {3.4028235e38f, "3.4028235e38"},
        {1e-45f, "1e-45"},      {16777216.0f, "16777216.0"}, {1234.5f, "1234.5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_state_f32(c.value), c.text) << c.value;
    }
}

TEST(StateWrite, EveryFloatTextReadsBackToTheSameBits) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<uint32_t> bits;
    for (int i = 0; i < 20000; ++i) {
        const float v = std::bit_cast<float>(bits(rng));
        if (!std::isfinite(v)) {
            continue;
        }
        const std::string text = format_state_f32(v);
        const float back = std::strtof(text.c_str(), nullptr);
        ASSERT_EQ(std::bit_cast<uint32_t>(back), std::bit_cast<uint32_t>(v)) << text;
        // Always a fraction or an exponent, so no reader takes it for an integer.
        ASSERT_NE(text.find_first_of(".e"), std::string::npos) << text;
    }
}

// --- loading -------------------------------------------------------------------

struct LoadCase {
    const char* name;
    const char* json;
    bool loads;
    // Expected members of the saved state after the load, as JSON; every
    // other member must be as before. Empty: nothing changes.
    const char* changed;
};

// The starting point of every case: defaults except mix at 0.7, so a load
// that resets to defaults would show.
void prepare(TessellgroveParams& params) { params.mix.set_plain_value(0.7f); }

const LoadCase load_cases[] = {
    {"only_mix", R"({"version":"0.1.0","params":{"mix":{"f32":0.25}},"fields":{}})", true,
     R"({"mix":{"f32":0.25}})"},
    {"missing_fields", R"({"version":"0.1.0","params":{"mix":{"f32":0.25}}})", false, ""},
    {"missing_params", R"({"version":"0.1.0","fields":{}})", false, ""},
    {"missing_version", R"({"params":{"mix":{"f32":0.25}},"fields":{}})", true, R"({"mix":{"f32":0.25}})"},
    {"i32_for_float_skipped", R"({"params":{"mix":{"i32":1}},"fields":{}})", true, ""},
    {"f64_key_fails", R"({"params":{"mix":{"f64":0.25}},"fields":{}})", false, ""},
    {"unknown_id_ignored", R"({"params":{"nope":{"f32":1.0},"mix":{"f32":0.25}},"fields":{}})", true,
     R"({"mix":{"f32":0.25}})"},
    {"f32_as_integer", R"({"params":{"mix":{"f32":1}},"fields":{}})", true, R"({"mix":{"f32":1.0}})"},
    {"duplicate_top_level_fails",
     R"({"params":{"mix":{"f32":0.25}},"params":{"mix":{"f32":0.3}},"fields":{}})", false, ""},
    {"duplicate_version_fails", R"({"version":"a","version":"b","params":{},"fields":{}})", false, ""},
    {"array_form", R"(["0.1.0",{"mix":{"f32":0.25}},{}])", true, R"({"mix":{"f32":0.25}})"},
    {"array_of_two_fails", R"(["0.1.0",{"mix":{"f32":0.25}}])", false, ""},
    {"array_of_four_fails", R"(["0.1.0",{"mix":{"f32":0.25}},{},{}])", false, ""},
    {"array_wrong_version_type_fails", R"([1,{"mix":{"f32":0.25}},{}])", false, ""},
    {"last_value_wins_in_params", R"({"params":{"mix":{"f32":0.1},"mix":{"f32":0.25}},"fields":{}})", true,
     R"({"mix":{"f32":0.25}})"},
    {"bool_wrong_kind_skipped",
     R"({"params":{"lock_motion_enable":{"i32":1},"char_mode":{"bool":true}},"fields":{}})", true, ""},
    {"bool_and_int_applied",
     R"({"params":{"lock_motion_enable":{"bool":true},"swarm_count":{"i32":7}},"fields":{}})", true,
     R"({"lock_motion_enable":{"bool":true},"swarm_count":{"i32":7}})"},
    {"out_of_range_stored_as_given",
     R"({"params":{"char_mode":{"i32":9},"comb_feedback":{"f32":1.0},"swarm_count":{"i32":-3}},"fields":{}})",
     true, R"({"char_mode":{"i32":9},"comb_feedback":{"f32":1.0},"swarm_count":{"i32":-3}})"},
    {"f32_beyond_float_range_skipped",
     R"({"params":{"mix":{"f32":1e39},"input_gain":{"f32":-1e39},"comb_mix":{"f32":0.5}},"fields":{}})", true,
     R"({"comb_mix":{"f32":0.5}})"},
    {"number_beyond_double_fails", R"({"params":{"mix":{"f32":1e400}},"fields":{}})", false, ""},
    {"string_value_selects_nothing", R"({"params":{"lock_motion_rate":{"string":"x"}},"fields":{}})", true, ""},
    {"string_key_with_number_fails", R"({"params":{"lock_motion_rate":{"string":3}},"fields":{}})", false, ""},
    {"i32_as_fraction_fails", R"({"params":{"char_mode":{"i32":1.0}},"fields":{}})", false, ""},
    {"i32_beyond_32_bits_fails", R"({"params":{"char_mode":{"i32":3000000000}},"fields":{}})", false, ""},
    {"two_member_value_fails", R"({"params":{"mix":{"f32":0.25,"i32":1}},"fields":{}})", false, ""},
    {"empty_value_fails", R"({"params":{"mix":{}},"fields":{}})", false, ""},
    {"bare_number_value_fails", R"({"params":{"mix":0.25},"fields":{}})", false, ""},
    {"version_not_string_fails", R"({"version":1,"params":{},"fields":{}})", false, ""},
    {"params_not_object_fails", R"({"params":[],"fields":{}})", false, ""},
    {"fields_not_object_fails", R"({"params":{},"fields":[]})", false, ""},
    {"fields_non_string_member_fails", R"({"params":{},"fields":{"a":1}})", false, ""},
    {"fields_string_member_ignored", R"({"params":{},"fields":{"a":"b"}})", true, ""},
    {"other_members_ignored", R"({"params":{"mix":{"f32":0.25}},"fields":{},"extra":[1,{"x":null}]})", true,
     R"({"mix":{"f32":0.25}})"},
    {"syntax_error_fails", R"({"params":{"mix":{"f32":0.25},},"fields":{}})", false, ""},
    {"trailing_text_fails", R"({"params":{},"fields":{}} x)", false, ""},
    {"whitespace_around_accepted", " \n{ \"params\" : { } , \"fields\" : { } }\t", true, ""},
    {"empty_text_fails", "", false, ""},
    {"not_an_object_fails", R"("state")", false, ""},
    {"null_fails", "null", false, ""},
    {"nan_literal_fails", R"({"params":{"mix":{"f32":NaN}},"fields":{}})", false, ""},
    {"invalid_utf8_fails", "{\"version\":\"\xff\",\"params\":{},\"fields\":{}}", false, ""},
};

class StateLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(StateLoad, AppliesOrChangesNothing) {
    const LoadCase& c = GetParam();
    TessellgroveParams params;
    prepare(params);
    const auto before = nlohmann::json::parse(write_state_json(params, "0.1.0"));

    EXPECT_EQ(load_state_json(params, c.json), c.loads);

    const auto after = nlohmann::json::parse(write_state_json(params, "0.1.0"));
    auto expected = before;
    if (c.loads && c.changed[0] != '\0') {
        const auto changed = nlohmann::json::parse(c.changed);
        for (const auto& [id, member] : changed.items()) {
            expected["params"][id] = member;
        }
    }
    EXPECT_EQ(after, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, StateLoad, ::testing::ValuesIn(load_cases),
                         [](const ::testing::TestParamInfo<LoadCase>& p) { return std::string(p.param.name); });

TEST(StateLoad, ParsedParamsAreInAscendingIdOrderWithLastValueKept) {
    const auto parsed = plugin_kit::parse_state_json(
        R"({"params":{"mix":{"f32":0.1},"b":{"i32":2},"a":{"bool":true},"mix":{"f32":0.2}},"fields":{}})");
    ASSERT_TRUE(parsed.state) << parsed.error;
    ASSERT_EQ(parsed.state->params.size(), 3u);
    EXPECT_EQ(parsed.state->params[0].first, "a");
    EXPECT_EQ(parsed.state->params[1].first, "b");
    EXPECT_EQ(parsed.state->params[2].first, "mix");
    EXPECT_EQ(std::get<plugin_kit::StateF32>(parsed.state->params[2].second).value, 0.2f);
    EXPECT_TRUE(parsed.state->version.empty());
}

TEST(StateLoad, OutOfRangePlainValueKeepsNormalisedValueClamped) {
    TessellgroveParams params;
    ASSERT_TRUE(load_state_json(params, R"({"params":{"comb_feedback":{"f32":1.0},"char_mode":{"i32":9}},"fields":{}})"));
    EXPECT_EQ(params.comb_feedback.value(), 1.0f);
    EXPECT_EQ(params.comb_feedback.normalized_value(), 1.0f);
    EXPECT_EQ(params.char_mode.value(), 9);
    EXPECT_EQ(params.char_mode.normalized_value(), 1.0f);
}

// --- round trips ------------------------------------------------------------------

enum class Fill { Defaults, Min, Max, Random };

void fill(TessellgroveParams& params, Fill how, std::mt19937& rng) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (const auto& entry : params.param_map()) {
        switch (how) {
        case Fill::Defaults: break;
        case Fill::Min: entry.param->set_normalized_value(0.0f); break;
        case Fill::Max: entry.param->set_normalized_value(1.0f); break;
        case Fill::Random: entry.param->set_normalized_value(unit(rng)); break;
        }
    }
}

TEST(StateRoundTrip, SaveLoadSaveIsIdentical) {
    std::mt19937 rng(99);
    for (const Fill how : {Fill::Defaults, Fill::Min, Fill::Max, Fill::Random, Fill::Random, Fill::Random}) {
        TessellgroveParams source;
        fill(source, how, rng);
        const std::string saved = write_state_json(source, "0.1.0");

        TessellgroveParams target;
        target.mix.set_plain_value(0.123f); // must be overwritten
        ASSERT_TRUE(load_state_json(target, saved)) << saved;
        EXPECT_EQ(write_state_json(target, "0.1.0"), saved);

    }
}

} // namespace
