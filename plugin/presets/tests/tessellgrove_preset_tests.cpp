#include "plugin/presets/factory_presets.hpp"
#include "plugin/presets/tessellgrove_preset.hpp"

#include "plugin/params/tessellgrove_params.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace tessellgrove {
namespace {

const TessellgrovePreset& init_preset() {
    const TessellgrovePreset* p = FACTORY_PRESETS.find("Init");
    EXPECT_NE(p, nullptr);
    return *p;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// Pretty text of a record with one key's value replaced by raw JSON text
// (or the key's line removed when `value` is empty), edited as text.
std::string with_field(const TessellgrovePreset& p, const std::string& key, const std::string& value) {
    std::vector<std::string> lines = split_lines(p.to_json());
    const std::string prefix = "  \"" + key + "\": ";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(prefix, 0) != 0) {
            continue;
        }
        const bool comma = lines[i].back() == ',';
        if (value.empty()) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            if (!comma && i > 0) {
                lines[i - 1].pop_back(); // the new last field loses its comma
            }
        } else {
            lines[i] = prefix + value + (comma ? "," : "");
        }
        break;
    }
    std::string out;
    for (const auto& l : lines) {
        out += (out.empty() ? "" : "\n") + l;
    }
    return out;
}

TEST(PresetJsonWriter, InitIsThirtyTwoLinesWithoutFinalLineFeed) {
    const std::string text = init_preset().to_json();
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    const auto lines = split_lines(text);
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines.front(), "{");
    EXPECT_EQ(lines[1], "  \"name\": \"Init\",");
    EXPECT_EQ(lines[3], "  \"mix\": 0.5,");
    EXPECT_EQ(lines[17], "  \"swarm_count\": 4,");
    EXPECT_EQ(lines[27], "  \"lock_motion_enable\": false,");
    EXPECT_EQ(lines[30], "  \"lock_motion_shape\": 0");
    EXPECT_EQ(lines.back(), "}");
    for (std::size_t i = 0; i < preset_field_count; ++i) {
        EXPECT_EQ(lines[i + 1].rfind("  \"" + std::string(preset_field_keys[i]) + "\": ", 0), 0u) << lines[i + 1];
    }
}

TEST(PresetJsonWriter, FloatTexts) {
    const struct {
        float value;
        const char* text;
    } cases[] = {
        {0.0f, "0.0"},      {0.5f, "0.5"},       {440.0f, "440.0"}, {1200.0f, "1200.0"},
        {0.1f, "0.1"},      {0.95f, "0.95"},     {-3.25f, "-3.25"}, {50.6f, "50.6"},
        {1.0f / 3.0f, "0.33333334"},
        {std::numeric_limits<float>::quiet_NaN(), "null"},
        {std::numeric_limits<float>::infinity(), "null"},
        {-std::numeric_limits<float>::infinity(), "null"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_preset_float(c.value), c.text) << c.value;
    }
}

TEST(PresetJsonWriter, FloatsAreShortestAndReadBackExactly) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<std::uint32_t> bits;
    for (int i = 0; i < 20000; ++i) {
        const std::uint32_t b = bits(rng);
        float v;
        std::memcpy(&v, &b, sizeof v);
        if (!std::isfinite(v)) {
            continue;
        }
        const std::string text = format_preset_float(v);
        ASSERT_NE(text.find_first_of(".e"), std::string::npos) << text;
        EXPECT_EQ(std::strtof(text.c_str(), nullptr), v) << text;
        // No shorter significand reads back: dropping the last digit must
        // change the value (checked on the mantissa part only).
        const auto e = text.find('e');
        std::string mantissa = text.substr(0, e);
        const std::string exponent = e == std::string::npos ? "" : text.substr(e);
        if (mantissa.size() > 3 && mantissa.back() != '0' && mantissa[mantissa.size() - 2] != '.') {
            mantissa.pop_back();
            EXPECT_NE(std::strtof((mantissa + exponent).c_str(), nullptr), v) << text;
        }
    }
}

TEST(PresetJsonWriter, NameEscaping) {
    const struct {
        std::string name;
        std::string text;
    } cases[] = {
        {"plain", "\"plain\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
        {std::string("\x01\x1f", 2), "\"\\u0001\\u001f\""},
        {std::string("a\0b", 3), "\"a\\u0000b\""},
        {"a/b", "\"a/b\""},
        {"\x7f", "\"\x7f\""},
        {"Café ☕ 😀", "\"Café ☕ 😀\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quote_json_string(c.name), c.text);
        TessellgrovePreset p = init_preset();
        p.name = c.name;
        const auto back = TessellgrovePreset::from_json(p.to_json());
        ASSERT_TRUE(back.has_value()) << back.error().to_string();
        EXPECT_EQ(back->name, c.name);
    }
}

TEST(PresetJsonRoundTrip, EveryFactoryPresetAndExtremes) {
    std::vector<TessellgrovePreset> records(FACTORY_PRESETS.begin(), FACTORY_PRESETS.end());
    TessellgrovePreset odd;
    odd.name = "odd \"one\"\n";
    odd.mix = 1.5f;
    odd.swarm_count = -7;
    odd.carrier_mode = 255;
    odd.lock_freq = std::numeric_limits<float>::max();
    odd.comb_tuning = std::numeric_limits<float>::denorm_min();
    odd.input_gain = -0.0f;
    records.push_back(odd);
    for (const auto& p : records) {
        const auto back = TessellgrovePreset::from_json(p.to_json());
        ASSERT_TRUE(back.has_value()) << p.name << ": " << back.error().to_string();
        EXPECT_EQ(*back, p) << p.name;
    }
}

TEST(PresetJsonReader, NonFiniteFieldIsWrittenAsNullAndNotReadBack) {
    TessellgrovePreset p = init_preset();
    p.mix = std::numeric_limits<float>::quiet_NaN();
    const std::string text = p.to_json();
    EXPECT_NE(text.find("\"mix\": null"), std::string::npos);
    EXPECT_FALSE(TessellgrovePreset::from_json(text).has_value());
}

// Texts that must fail, with the exact message or a fragment of it.
TEST(PresetJsonReader, FailuresAndTheirMessages) {
    const TessellgrovePreset& init = init_preset();
    const std::string full = init.to_json();
    const struct {
        std::string text;
        std::string message;
        bool exact;
    } cases[] = {
        {"{\"name\":\"a\",\"name\":\"b\"}", "duplicate field `name`", true},
        {full.substr(0, full.size() - 1) + ",\"mix\":0.5}", "duplicate field `mix`", true},
        {"{}", "missing field `name`", true},
        {"{\"mix\":0.5}", "missing field `name`", true},
        {"{\"name\":\"x\"}", "missing field `mix`", true},
        {with_field(init, "mix", ""), "missing field `mix`", true},
        {with_field(init, "char_amount", ""), "missing field `char_amount`", true},
        {"[]", "invalid length 0, expected struct TessellgrovePreset with 30 elements", true},
        {"[\"x\"]", "invalid length 2, expected struct TessellgrovePreset with 30 elements", true},
        {"[\"x\", 0.0, 0.5, 0.0, 1.0]", "invalid length 5, expected struct TessellgrovePreset with 30 elements", true},
        {"5", "expected struct TessellgrovePreset", false},
        {"\"Init\"", "expected struct TessellgrovePreset", false},
        {"null", "expected struct TessellgrovePreset", false},
        {"true", "expected struct TessellgrovePreset", false},
        {with_field(init, "swarm_count", "4.0"), "i32", false},
        {with_field(init, "swarm_count", "2147483648"), "i32", false},
        {with_field(init, "carrier_mode", "256"), "u8", false},
        {with_field(init, "carrier_mode", "-1"), "u8", false},
        {with_field(init, "carrier_mode", "1.0"), "u8", false},
        {with_field(init, "mix", "null"), "f32", false},
        {with_field(init, "mix", "\"0.5\""), "f32", false},
        {with_field(init, "mix", "[0.5]"), "f32", false},
        {with_field(init, "mix", "1e39"), "invalid value: floating point `1e39`, expected f32", true},
        {with_field(init, "mix", "-3.5e38"), "invalid value: floating point `-3.5e38`, expected f32", true},
        {with_field(init, "mix", "1e400"), "overflow", false}, // beyond a double: the lexer refuses it
        {with_field(init, "name", "7"), "a string", false},
        {with_field(init, "name", "null"), "a string", false},
        {with_field(init, "lock_motion_enable", "1"), "a boolean", false},
        {with_field(init, "lock_motion_enable", "\"true\""), "a boolean", false},
        {with_field(init, "comb_tuning", "null"), "f32", false},
        {full + "x", "", false},
        {full + " {}", "", false},
        {full + "\n[]", "", false},
        {full.substr(0, full.size() - 1), "", false},
        {"", "", false},
        {"{\"name\":\"\\ud800\"}", "", false},
    };
    for (const auto& c : cases) {
        const auto r = TessellgrovePreset::from_json(c.text);
        ASSERT_FALSE(r.has_value()) << c.text;
        EXPECT_EQ(r.error().kind(), PresetError::Kind::Json);
        if (c.exact) {
            EXPECT_EQ(r.error().message(), c.message) << c.text;
        } else {
            EXPECT_NE(r.error().message().find(c.message), std::string::npos)
                << c.text << " -> " << r.error().message();
            EXPECT_FALSE(r.error().message().empty());
        }
    }
}

TEST(PresetJsonReader, MinimalObjectTakesDefaults) {
    const std::string text = R"({"name":"Min","mix":0.25,"output_gain":-3,"lock_freq":100,"carrier_mode":2,
        "formant_position":0.1,"formant_width":0.2,"formant_morph_rate":0.3,
        "stoch_spread":0.4,"stoch_density":0.5,"stoch_smoothing":0.6,
        "swarm_count":7,"swarm_spread":0.7,"swarm_drift":0.8,
        "trig_div":3,"trig_amount":0.9,"char_mode":1,"char_amount":1})";
    const auto r = TessellgrovePreset::from_json(text);
    ASSERT_TRUE(r.has_value()) << r.error().to_string();
    const TessellgrovePreset& p = *r;
    EXPECT_EQ(p.name, "Min");
    EXPECT_EQ(p.output_gain, -3.0f);
    EXPECT_EQ(p.char_amount, 1.0f);
    EXPECT_EQ(p.swarm_count, 7);
    EXPECT_EQ(p.comb_tuning, 440.0f);
    EXPECT_EQ(p.lock_motion_rate, 4);
    EXPECT_EQ(p.lock_motion_depth, 0.5f);
    EXPECT_EQ(p.stereo_width, 1.0f);
    EXPECT_EQ(p.input_gain, 0.0f);
    EXPECT_EQ(p.carrier_env_amount, 0.0f);
    EXPECT_FALSE(p.mode_cycle_enable);
    EXPECT_EQ(p.mode_cycle_div, 0);
    EXPECT_EQ(p.comb_feedback, 0.0f);
    EXPECT_EQ(p.comb_mix, 0.0f);
    EXPECT_FALSE(p.lock_motion_enable);
    EXPECT_EQ(p.lock_motion_shape, 0);
}

TEST(PresetJsonReader, UnknownKeysAreSkippedWhateverTheirValue) {
    const TessellgrovePreset& init = init_preset();
    for (const char* extra : {"1", "1e39", "\"v\"", "null", "{\"mix\":[1,{\"a\":[]}],\"name\":2}", "[[],[{}]]"}) {
        std::string text = with_field(init, "version", extra);
        const auto r = TessellgrovePreset::from_json(text);
        ASSERT_TRUE(r.has_value()) << text << ": " << r.error().to_string();
        EXPECT_EQ(*r, init);
    }
    // Key comparison is exact: "Mix" is just another unknown key.
    auto doc = nlohmann::ordered_json::parse(init.to_json());
    doc["Mix"] = doc["mix"];
    doc.erase("mix");
    const auto r = TessellgrovePreset::from_json(doc.dump());
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message(), "missing field `mix`");
}

TEST(PresetJsonReader, NumberForms) {
    const TessellgrovePreset& init = init_preset();
    const struct {
        const char* key;
        const char* json;
        float expected;
    } cases[] = {
        {"mix", "1", 1.0f},           {"mix", "-0", 0.0f},          {"mix", "2.5e-1", 0.25f},
        {"mix", "1E2", 100.0f},       {"mix", "0.1", 0.1f},         {"lock_freq", "18446744073709551615", 1.8446744e19f},
        {"mix", "1e-50", 0.0f},       {"mix", "3.4028235e38", std::numeric_limits<float>::max()},
    };
    for (const auto& c : cases) {
        const auto r = TessellgrovePreset::from_json(with_field(init, c.key, c.json));
        ASSERT_TRUE(r.has_value()) << c.json << ": " << r.error().to_string();
        const auto values = nlohmann::json::parse(r->to_json());
        EXPECT_EQ(values[c.key].get<float>(), c.expected) << c.json;
    }
    const auto neg = TessellgrovePreset::from_json(with_field(init, "swarm_count", "-2147483648"));
    ASSERT_TRUE(neg.has_value());
    EXPECT_EQ(neg->swarm_count, std::numeric_limits<std::int32_t>::min());
    const auto top = TessellgrovePreset::from_json(with_field(init, "lock_motion_shape", "255"));
    ASSERT_TRUE(top.has_value());
    EXPECT_EQ(top->lock_motion_shape, 255);
}

TEST(PresetJsonReader, ArrayForm) {
    const TessellgrovePreset& init = init_preset();
    auto doc = nlohmann::ordered_json::parse(init.to_json());
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const auto& [key, value] : doc.items()) {
        all.push_back(value);
    }
    ASSERT_EQ(all.size(), 30u);

    const auto whole = TessellgrovePreset::from_json("  " + all.dump() + "\n ");
    ASSERT_TRUE(whole.has_value()) << whole.error().to_string();
    EXPECT_EQ(*whole, init);

    // Ending after `char_amount` (23 elements): the rest are optional.
    nlohmann::ordered_json head(all.begin(), all.begin() + 23);
    head[0] = "Short";
    const auto short_form = TessellgrovePreset::from_json(head.dump());
    ASSERT_TRUE(short_form.has_value()) << short_form.error().to_string();
    EXPECT_EQ(short_form->name, "Short");
    EXPECT_EQ(short_form->comb_tuning, 440.0f);
    EXPECT_EQ(short_form->lock_motion_rate, 4);

    nlohmann::ordered_json longer = all;
    longer.push_back(1);
    const auto too_long = TessellgrovePreset::from_json(longer.dump());
    ASSERT_FALSE(too_long.has_value());
    EXPECT_EQ(too_long.error().message(), "invalid length 31, expected struct TessellgrovePreset with 30 elements");

    nlohmann::ordered_json wrong = all;
    wrong[16] = 4.5; // swarm_count
    const auto bad = TessellgrovePreset::from_json(wrong.dump());
    ASSERT_FALSE(bad.has_value());
    EXPECT_NE(bad.error().message().find("i32"), std::string::npos);
}

TEST(PresetParamValues, EdgeValues) {
    const auto value_of = [](const TessellgrovePreset& p, std::string_view id) {
        for (const auto& [key, v] : p.to_param_values()) {
            if (key == id) {
                return v;
            }
        }
        ADD_FAILURE() << "no " << id;
        return -1.0f;
    };
    const struct {
        void (*edit)(TessellgrovePreset&);
        const char* id;
        float expected;
    } cases[] = {
        {[](TessellgrovePreset& p) { p.mix = 1.5f; }, "mix", 1.5f},
        {[](TessellgrovePreset& p) { p.comb_feedback = 0.95f; }, "comb_feedback", 1.0f},
        {[](TessellgrovePreset& p) { p.comb_feedback = 1.0f; }, "comb_feedback", 1.0f / 0.95f},
        {[](TessellgrovePreset& p) { p.lock_freq = 20.0f; }, "lock_freq", 0.0f},
        {[](TessellgrovePreset& p) { p.lock_freq = 10000.0f; }, "lock_freq", 1.0f},
        {[](TessellgrovePreset& p) { p.comb_tuning = 440.0f; }, "comb_tuning", std::pow(420.0f / 4980.0f, 0.25f)},
        {[](TessellgrovePreset& p) { p.swarm_count = 1; }, "swarm_count", 0.0f},
        {[](TessellgrovePreset& p) { p.swarm_count = 9; }, "swarm_count", 0.5f},
        {[](TessellgrovePreset& p) { p.swarm_count = 40; }, "swarm_count", 1.0f},
        {[](TessellgrovePreset& p) { p.carrier_mode = 5; }, "carrier_mode", 2.5f},
        {[](TessellgrovePreset& p) { p.input_gain = -40.0f; }, "input_gain", 0.0f},
        {[](TessellgrovePreset& p) { p.output_gain = 12.0f; }, "output_gain", 1.0f},
        {[](TessellgrovePreset& p) { p.stereo_width = 3.0f; }, "stereo_width", 1.0f},
        {[](TessellgrovePreset& p) { p.formant_morph_rate = 2.5f; }, "formant_morph_rate", 0.5f},
        {[](TessellgrovePreset& p) { p.formant_morph_rate = -1.0f; }, "formant_morph_rate", 0.0f},
        {[](TessellgrovePreset& p) { p.lock_motion_rate = 8; }, "lock_motion_rate", 1.0f},
        {[](TessellgrovePreset& p) { p.lock_motion_shape = 2; }, "lock_motion_shape", 0.5f},
        {[](TessellgrovePreset& p) { p.mode_cycle_enable = true; }, "mode_cycle_enable", 1.0f},
        {[](TessellgrovePreset& p) { p.trig_amount = -0.5f; }, "trig_amount", -0.5f},
    };
    for (const auto& c : cases) {
        TessellgrovePreset p = init_preset();
        c.edit(p);
        EXPECT_FLOAT_EQ(value_of(p, c.id), c.expected) << c.id;
    }
    EXPECT_NEAR(value_of(init_preset(), "comb_tuning"), 0.539f, 0.001f);
}

// Sets every parameter of `params` to the plain values of `preset`.
void apply_plain_values(TessellgroveParams& params, const TessellgrovePreset& preset) {
    const auto doc = nlohmann::json::parse(preset.to_json());
    for (const auto& entry : params.param_map()) {
        const auto& v = doc.at(std::string(entry.id));
        if (auto* f = dynamic_cast<plugin_kit::FloatParam*>(entry.param)) {
            f->set_plain_value(v.get<float>());
        } else if (auto* i = dynamic_cast<plugin_kit::IntParam*>(entry.param)) {
            i->set_plain_value(v.get<std::int32_t>());
        } else if (auto* b = dynamic_cast<plugin_kit::BoolParam*>(entry.param)) {
            b->set_plain_value(v.get<bool>());
        } else if (auto* e = dynamic_cast<plugin_kit::EnumParam*>(entry.param)) {
            e->set_plain_value(v.get<std::int32_t>());
        } else {
            ADD_FAILURE() << "unknown parameter kind for " << entry.id;
        }
    }
}

TEST(PresetCapture, FreshParameterSetIsInit) {
    TessellgroveParams params;
    EXPECT_EQ(TessellgrovePreset::from_params(params, "Init"), init_preset());
    const auto captured = TessellgrovePreset::from_params(params, "  spaced: name  ");
    EXPECT_EQ(captured.name, "  spaced: name  ");
}

// For every factory preset: capturing a parameter set that holds its values
// gives the record back, and the record's normalised values agree with the
// parameter set's own normalisation, in parameter-set order by id.
TEST(PresetCapture, FactoryPresetsAgreeWithTheParameterSet) {
    for (const TessellgrovePreset& preset : FACTORY_PRESETS) {
        TessellgroveParams params;
        apply_plain_values(params, preset);
        EXPECT_EQ(TessellgrovePreset::from_params(params, preset.name), preset) << preset.name;
        const auto values = preset.to_param_values();
        const auto map = params.param_map();
        ASSERT_EQ(map.size(), values.size());
        for (const auto& [id, normalized] : values) {
            const auto it = std::find_if(map.begin(), map.end(), [&](const auto& e) { return e.id == id; });
            ASSERT_NE(it, map.end()) << id;
            EXPECT_NEAR(normalized, it->param->normalized_value(), 2e-6f) << preset.name << " " << id;
        }
    }
}

TEST(PresetParamValues, FieldOrderMatchesKeys) {
    const auto values = init_preset().to_param_values();
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i].first, preset_field_keys[i + 1]);
    }
}

} // namespace
} // namespace tessellgrove
