#include "plugin_kit/params/param_id.hpp"
#include "plugin_kit/params/value_text.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace plugin_kit;

TEST(ParamIdHash, KnownIdsAndTopBitCleared) {
    struct Case {
        std::string_view id;
        uint32_t expected;
    };
    const Case cases[] = {
        {"mix", 108124u},
        {"input_gain", 1386281684u},
        {"output_gain", 1322673149u}, // the unmasked hash has bit 31 set
        {"", 0u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(param_id_hash(c.id), c.expected) << c.id;
    }
    static_assert(param_id_hash("mix") == 108124u, "usable at compile time");
}

TEST(TrimWhiteSpace, AsciiAndUnicodeWhiteSpace) {
    struct Case {
        std::string_view text;
        std::string_view expected;
    };
    const Case cases[] = {
        {"  75 %\t\n", "75 %"},
        {"\r\v\f1/8T ", "1/8T"},
        {"\xC2\xA0" "440\xE3\x80\x80", "440"},         // no-break space, ideographic space
        {"\xE2\x80\x89" "5\xE2\x80\xAF", "5"},          // thin space, narrow no-break space
        {"\xC2\xA0", ""},
        {"", ""},
        {"a b", "a b"},
        {"\xC3\xA9", "\xC3\xA9"},                       // a letter that shares the 0xC3 lead byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(trim_white_space(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(ParseDecimalFloat, AcceptsWholeNumbersOnly) {
    struct Case {
        std::string_view text;
        std::optional<float> expected;
    };
    const Case cases[] = {
        {"440", 440.0f},      {"+5", 5.0f},         {"-2.5", -2.5f},     {".5", 0.5f},
        {"5.", 5.0f},         {"1e3", 1000.0f},     {"1E-2", 0.01f},     {"1e-50", 0.0f},
        {"", std::nullopt},   {"+", std::nullopt},  {"-", std::nullopt}, {"+-5", std::nullopt},
        {"++5", std::nullopt}, {" 5", std::nullopt}, {"5 ", std::nullopt}, {"5,5", std::nullopt},
        {"440Hz", std::nullopt}, {"1e", std::nullopt}, {"0x10", std::nullopt}, {"abc", std::nullopt},
        // Non-finite readings never become parameter values.
        {"nan", std::nullopt}, {"NaN", std::nullopt}, {"inf", std::nullopt}, {"-infinity", std::nullopt},
        {"1e40", std::nullopt}, {"-1e39", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<float> got = parse_decimal_float(c.text);
        ASSERT_EQ(got.has_value(), c.expected.has_value()) << '"' << c.text << '"';
        if (got) {
            EXPECT_EQ(*got, *c.expected) << '"' << c.text << '"';
        }
    }
}

TEST(ParseDecimalInt32, SignsRangeAndFractions) {
    struct Case {
        std::string_view text;
        std::optional<int32_t> expected;
    };
    const Case cases[] = {
        {"5", 5},          {"+5", 5},           {"-3", -3},           {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},             {"2147483648", std::nullopt}, {"-2147483649", std::nullopt},
        {"5.0", std::nullopt}, {"+", std::nullopt}, {"-", std::nullopt}, {"", std::nullopt},
        {"+-5", std::nullopt}, {"1e2", std::nullopt}, {"5 ", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_decimal_int32(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(FormatDecimal, ExactValueTiesToEvenNoExponent) {
    struct Case {
        float value;
        int decimals;
        std::string_view expected;
    };
    const Case cases[] = {
        {0.5f, 0, "0"},   {1.5f, 0, "2"},     {2.5f, 0, "2"},      {-2.5f, 0, "-2"},
        {0.125f, 2, "0.12"},                  // exactly representable tie: to even
        {0.375f, 2, "0.38"},
        {0.015f, 2, "0.01"},                  // the float is 0.01499999966...
        {-0.0f, 1, "0.0"},                    // zero of either sign prints unsigned
        {-0.25f, 1, "-0.2"},
        {999.7f, 0, "1000"},
        {1e20f, 0, "100000002004087734272"},  // no exponent
        {12.0f, 1, "12.0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(format_decimal(c.value, c.decimals), c.expected) << c.value << " d=" << c.decimals;
    }
}

TEST(Formatters, ValueTexts) {
    struct Case {
        FloatToText format;
        float value;
        std::string_view expected;
    };
    const Case cases[] = {
        {formatters::v2s_rounded(1), -3.25f, "-3.3"},   // -32.5 rounds away from zero
        {formatters::v2s_rounded(1), 3.25f, "3.3"},
        {formatters::v2s_rounded(1), -0.04f, "0.0"},    // never "-0.0"
        {formatters::v2s_rounded(1), 12.0f, "12.0"},
        {formatters::v2s_rounded(2), 0.5f, "0.50"},
        {formatters::v2s_rounded(2), -0.004f, "0.00"},
        {formatters::v2s_rounded(2), 0.005f, "0.01"},
        {formatters::v2s_percentage(0), 0.5f, "50"},
        {formatters::v2s_percentage(0), 1.0f, "100"},
        {formatters::v2s_percentage(0), 0.125f, "12"},  // 12.5 ties to even
        {formatters::v2s_hz_then_khz(0), 440.0f, "440 Hz"},
        {formatters::v2s_hz_then_khz(0), 999.7f, "1000 Hz"},
        {formatters::v2s_hz_then_khz(0), 1000.0f, "1.0 kHz"},
        {formatters::v2s_hz_then_khz(0), 1234.5f, "1.2 kHz"},
        {formatters::v2s_hz_then_khz(0), 5000.0f, "5.0 kHz"},
        {formatters::v2s_hz_then_khz(2), 1234.5f, "1.23 kHz"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.format(c.value), c.expected) << c.value;
    }
}

TEST(Formatters, PercentageInput) {
    struct Case {
        std::string_view text;
        std::optional<float> expected;
    };
    const Case cases[] = {
        {"75%", 0.75f}, {" 75 % ", 0.75f}, {"75", 0.75f}, {"75 %%  %", 0.75f}, {"150", 1.5f},
        {"-20", -0.2f}, {"%", std::nullopt}, {"", std::nullopt}, {"abc", std::nullopt},
        {"% 75", std::nullopt}, {"nan%", std::nullopt}, {"1e40", std::nullopt},
    };
    const TextToFloat parse = formatters::s2v_percentage();
    for (const Case& c : cases) {
        EXPECT_EQ(parse(c.text), c.expected) << '"' << c.text << '"';
    }
}

// Texts must not follow the process locale: a host under a decimal-comma
// locale still gets "2.50" and may type "2.5".
TEST(ValueText, IndependentOfProcessLocale) {
    const char* const previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous != nullptr ? previous : "C";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    }
    const bool comma = std::string_view(std::localeconv()->decimal_point) == ",";
    const std::string printed = format_decimal(2.5f, 2);
    const std::string rounded = formatters::v2s_rounded(1)(-3.25f);
    const std::optional<float> parsed = parse_decimal_float("2.5");
    const std::optional<float> comma_parsed = parse_decimal_float("2,5");
    std::setlocale(LC_ALL, saved.c_str());

    EXPECT_TRUE(comma) << "the locale should use a decimal comma";
    EXPECT_EQ(printed, "2.50");
    EXPECT_EQ(rounded, "-3.3");
    EXPECT_EQ(parsed, 2.5f);
    EXPECT_EQ(comma_parsed, std::nullopt);
}

} // namespace
