#include "plugin_kit/params/param.hpp"
#include "plugin_kit/params/params.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace plugin_kit;

TEST(FloatRange, NormaliseAndBack) {
    struct Case {
        FloatRange range;
        float plain;
        float normalized;
    };
    const Case cases[] = {
        {FloatRange::linear(-12.0f, 12.0f), 0.0f, 0.5f},
        {FloatRange::linear(-24.0f, 12.0f), -24.0f, 0.0f},
        {FloatRange::linear(0.0f, 0.95f), 0.95f, 1.0f},
        {FloatRange::skewed(40.0f, 5000.0f, 0.25f), 350.0f, 0.5f},   // 40 + 4960 / 16
        {FloatRange::skewed(20.0f, 5000.0f, 0.25f), 331.25f, 0.5f},  // 20 + 4980 / 16
        {FloatRange::skewed(0.0f, 10.0f, 0.5f), 2.5f, 0.5f},         // 10 / 4
        {FloatRange::skewed(0.0f, 10.0f, 0.5f), 10.0f, 1.0f},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(c.range.normalize(c.plain), c.normalized) << c.plain;
        EXPECT_FLOAT_EQ(c.range.unnormalize(c.normalized), c.plain) << c.normalized;
    }
}

TEST(FloatRange, OutOfRangeInputsAreLimited) {
    const FloatRange skew = FloatRange::skewed(40.0f, 5000.0f, 0.25f);
    EXPECT_EQ(skew.normalize(10.0f), 0.0f);
    EXPECT_EQ(skew.normalize(1e9f), 1.0f);
    EXPECT_EQ(skew.normalize(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(skew.unnormalize(-0.5f), 40.0f);
    EXPECT_EQ(skew.unnormalize(1.5f), 5000.0f);
    EXPECT_EQ(skew.unnormalize(std::numeric_limits<float>::quiet_NaN()), 40.0f);
}

TEST(IntRange, RoundsHalvesAwayFromZero) {
    struct Case {
        IntRange range;
        float normalized;
        int32_t plain;
    };
    const Case cases[] = {
        {IntRange{0, 2}, 0.25f, 1},   // 2 x 0.25 = 0.5 rounds up
        {IntRange{0, 2}, 0.2f, 0},
        {IntRange{0, 8}, 0.25f, 2},
        {IntRange{2, 16}, 0.5f, 9},   // 2 + 7
        {IntRange{2, 16}, 1.0f, 16},
        {IntRange{2, 16}, 0.0f, 2},
        {IntRange{-5, 5}, 0.45f, 0},  // -5 + round(4.5) = -5 + 5
        {IntRange{0, 3}, 2.0f, 3},    // limited to 0..1 first
        {IntRange{0, 3}, -1.0f, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.range.unnormalize(c.normalized), c.plain) << c.normalized;
    }
    const IntRange swarm{2, 16};
    EXPECT_FLOAT_EQ(swarm.normalize(4), 1.0f / 7.0f);
    EXPECT_EQ(swarm.normalize(-3), 0.0f);
    EXPECT_EQ(swarm.normalize(99), 1.0f);
    EXPECT_EQ(swarm.step_count(), 14u);
}

FloatParamOptions with_unit(std::string unit, bool unit_in_value_text = false) {
    FloatParamOptions options;
    options.unit = std::move(unit);
    options.value_to_string = formatters::v2s_rounded(1);
    options.unit_in_value_text = unit_in_value_text;
    return options;
}

TEST(FloatParam, HostValuesStayInRangeStateLoadsDoNot) {
    FloatParam p("Feedback", 0.0f, FloatRange::linear(0.0f, 0.95f), with_unit(""));
    p.set_normalized_value(1.0f);
    EXPECT_FLOAT_EQ(p.value(), 0.95f);
    p.set_normalized_value(7.0f);
    EXPECT_EQ(p.unmodulated_normalized_value(), 1.0f);
    EXPECT_FLOAT_EQ(p.value(), 0.95f);

    // A stored 1.0 is kept as it is; only the normalised value is limited.
    p.set_plain_value(1.0f);
    EXPECT_EQ(p.value(), 1.0f);
    EXPECT_EQ(p.unmodulated_value(), 1.0f);
    EXPECT_EQ(p.normalized_value(), 1.0f);

    // Non-finite values from the host or a state are ignored.
    p.set_plain_value(0.5f);
    p.set_plain_value(std::numeric_limits<float>::infinity());
    p.set_plain_value(std::numeric_limits<float>::quiet_NaN());
    p.set_normalized_value(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(p.value(), 0.5f);
    EXPECT_TRUE(std::isfinite(p.normalized_value()));
}

TEST(FloatParam, ModulationOffsetMovesOnlyTheEffectiveValue) {
    FloatParam p("Gain", 0.0f, FloatRange::linear(-12.0f, 12.0f), with_unit(" dB"));
    struct Step {
        enum { Normalized, Plain, Offset } op;
        float arg;
        float effective_plain;
        float effective_normalized;
        float unmodulated_plain;
    };
    const Step steps[] = {
        {Step::Normalized, 0.5f, 0.0f, 0.5f, 0.0f},
        {Step::Offset, 0.25f, 6.0f, 0.75f, 0.0f},
        {Step::Normalized, 0.75f, 12.0f, 1.0f, 6.0f},   // 0.75 + 0.25, limited
        {Step::Offset, -1.0f, -12.0f, 0.0f, 6.0f},      // limited at the bottom
        {Step::Plain, 30.0f, -12.0f, 0.0f, 30.0f},      // out-of-range state value, still modulated
        {Step::Offset, 0.0f, 30.0f, 1.0f, 30.0f},       // offset 0 restores the stored value
        {Step::Offset, std::numeric_limits<float>::quiet_NaN(), 30.0f, 1.0f, 30.0f},
    };
    for (const Step& s : steps) {
        switch (s.op) {
        case Step::Normalized: p.set_normalized_value(s.arg); break;
        case Step::Plain: p.set_plain_value(s.arg); break;
        case Step::Offset: p.set_modulation_offset(s.arg); break;
        }
        EXPECT_FLOAT_EQ(p.value(), s.effective_plain) << "after " << s.arg;
        EXPECT_FLOAT_EQ(p.normalized_value(), s.effective_normalized) << "after " << s.arg;
        EXPECT_FLOAT_EQ(p.unmodulated_value(), s.unmodulated_plain) << "after " << s.arg;
    }
    EXPECT_EQ(p.modulation_offset(), 0.0f);
}

TEST(FloatParam, DisplayTextAndTypedText) {
    FloatParam gain("Gain", 0.0f, FloatRange::linear(-12.0f, 12.0f), with_unit(" dB"));
    FloatParamOptions hz;
    hz.unit = " Hz";
    hz.value_to_string = formatters::v2s_hz_then_khz(0);
    hz.unit_in_value_text = true;
    FloatParam freq("Freq", 440.0f, FloatRange::skewed(40.0f, 5000.0f, 0.25f), hz);

    const float n = gain.preview_normalized(-3.25f);
    EXPECT_EQ(gain.normalized_value_to_string(n, true), "-3.3 dB");
    EXPECT_EQ(gain.normalized_value_to_string(n, false), "-3.3");
    const float f = freq.preview_normalized(440.0f);
    EXPECT_EQ(freq.normalized_value_to_string(f, true), "440 Hz");   // the unit is not doubled
    EXPECT_EQ(freq.normalized_value_to_string(f, false), "440 Hz");

    struct Case {
        const FloatParam* param;
        std::string_view text;
        std::optional<float> plain;
    };
    const Case cases[] = {
        {&gain, " -6 dB ", -6.0f},   {&gain, "-6 dB dB", -6.0f}, {&gain, "-6", -6.0f},
        {&gain, "99", 12.0f},         {&gain, "-6dB", std::nullopt}, {&gain, "dB", std::nullopt},
        {&gain, "inf dB", std::nullopt}, {&gain, "nan", std::nullopt},
        {&freq, "440 Hz", 440.0f},   {&freq, "440Hz", std::nullopt}, {&freq, "1.2 kHz", std::nullopt},
        {&freq, "10", 40.0f},
    };
    for (const Case& c : cases) {
        const std::optional<float> n2 = c.param->string_to_normalized_value(c.text);
        ASSERT_EQ(n2.has_value(), c.plain.has_value()) << '"' << c.text << '"';
        if (n2) {
            EXPECT_FLOAT_EQ(c.param->preview_plain(*n2), *c.plain) << '"' << c.text << '"';
        }
    }
}

TEST(IntParam, TextsAndStateValues) {
    IntParamOptions options;
    options.unit = " voices";
    IntParam p("Count", 4, IntRange{2, 16}, options);
    EXPECT_EQ(p.step_count(), 14u);
    EXPECT_FLOAT_EQ(p.default_normalized_value(), 1.0f / 7.0f);
    EXPECT_EQ(p.normalized_value_to_string(0.5f, false), "9");
    EXPECT_EQ(p.normalized_value_to_string(0.5f, true), "9 voices");

    struct Case {
        std::string_view text;
        std::optional<int32_t> plain;
    };
    const Case cases[] = {
        {"+5", 5}, {"-3", 2}, {"5 voices", 5}, {" 40 ", 16}, {"5.0", std::nullopt}, {"", std::nullopt},
        {"+", std::nullopt}, {"99999999999", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<float> n = p.string_to_normalized_value(c.text);
        ASSERT_EQ(n.has_value(), c.plain.has_value()) << '"' << c.text << '"';
        if (n) {
            EXPECT_EQ(p.preview_plain(*n), *c.plain) << '"' << c.text << '"';
        }
    }

    p.set_plain_value(40);
    EXPECT_EQ(p.value(), 40);
    EXPECT_EQ(p.normalized_value(), 1.0f);
}

TEST(BoolParam, HalfIsOffAndTypedText) {
    BoolParam p("Enable", false);
    EXPECT_EQ(p.step_count(), 1u);
    p.set_normalized_value(0.5f);
    EXPECT_FALSE(p.value());
    EXPECT_EQ(p.normalized_value_to_string(0.5f, true), "Off");
    EXPECT_EQ(p.normalized_value_to_string(0.5001f, true), "On");
    p.set_normalized_value(0.6f);
    EXPECT_TRUE(p.value());
    p.set_modulation_offset(-0.2f);
    EXPECT_FALSE(p.value());

    struct Case {
        std::string_view text;
        float normalized;
    };
    const Case cases[] = {
        {"ON", 1.0f}, {" true ", 1.0f}, {"True", 1.0f}, {"on", 1.0f},
        {"yes", 0.0f}, {"1", 0.0f}, {"", 0.0f}, {"onn", 0.0f}, {"off", 0.0f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(p.string_to_normalized_value(c.text), c.normalized) << '"' << c.text << '"';
    }
}

TEST(EnumParam, VariantNamesMatchExactly) {
    EnumParam p("Rate", 4, {"4 bars", "2 bars", "1 bar", "1/2", "1/4", "1/8", "1/16", "1/4T", "1/8T"});
    EXPECT_EQ(p.step_count(), 8u);
    EXPECT_EQ(p.default_normalized_value(), 0.5f);
    EXPECT_EQ(p.normalized_value_to_string(0.25f, true), "1 bar");

    struct Case {
        std::string_view text;
        std::optional<int32_t> index;
    };
    const Case cases[] = {
        {"1/4", 4}, {" 1/8T ", 8}, {"4 bars", 0}, {"1/4t", std::nullopt}, {"1/4 T", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<float> n = p.string_to_normalized_value(c.text);
        ASSERT_EQ(n.has_value(), c.index.has_value()) << '"' << c.text << '"';
        if (n) {
            EXPECT_EQ(p.preview_plain(*n), *c.index) << '"' << c.text << '"';
        }
    }

    // An index beyond the list from a stored state is kept; its text is the last variant's.
    p.set_plain_value(12);
    EXPECT_EQ(p.value(), 12);
    EXPECT_EQ(p.normalized_value_to_string(p.normalized_value(), false), "1/8T");
}

struct TwoParams final : Params {
    FloatParam a{"A", 0.0f, FloatRange::linear(0.0f, 1.0f)};
    BoolParam b{"B", true};
    std::vector<ParamMapEntry> param_map() override { return {{"a", &a, ""}, {"b", &b, "group"}}; }
};

TEST(Params, DefaultFieldsAndLookup) {
    TwoParams set;
    EXPECT_TRUE(set.serialize_fields().empty());
    set.deserialize_fields({{"x", "y"}});
    const std::vector<ParamMapEntry> map = set.param_map();
    const ParamMapEntry* b = find_param_entry(map, "b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->param, &set.b);
    EXPECT_EQ(find_param_entry(map, "c"), nullptr);
}

} // namespace
