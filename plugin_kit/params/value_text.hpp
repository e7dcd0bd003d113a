#pragma once
// Value texts and text input for parameters: locale-independent decimal
// printing and reading, white-space trimming, and the value-to-text /
// text-to-value conversions that parameters are built with.
//
// Nothing here depends on the C or C++ locale: numbers are read with
// std::from_chars and written with std::to_chars, so a host running under a
// locale with a decimal comma still sees "2.50" and may type "2.5".

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace plugin_kit {

// Turns a plain float value into its value text (without the unit).
using FloatToText = std::function<std::string(float)>;
// Reads typed text as a plain float value; nullopt when the text is no value.
using TextToFloat = std::function<std::optional<float>(std::string_view)>;

// Removes white space at both ends: ASCII white space and the Unicode
// White_Space characters encoded in UTF-8 (no-break space, ideographic space...).
std::string_view trim_white_space(std::string_view text) noexcept;

// Reads a whole text as a decimal number ("+2.5", "-1e3", ".5"); the text
// must be the number and nothing else. Texts that do not name a finite
// 32-bit float ("nan", "inf", "1e40") are rejected; underflow reads as zero.
std::optional<float> parse_decimal_float(std::string_view text) noexcept;

// Reads a whole text as a decimal integer with an optional sign ("+5", "-3").
// A sign alone, an empty text, a fraction or a value beyond 32 bits fails.
std::optional<int32_t> parse_decimal_int32(std::string_view text) noexcept;

// Rounds to the nearest integer, halves away from zero (float in, float out).
float round_half_away(float value) noexcept;

// The exact value of `value` written with `decimals` decimals, rounded to
// nearest with ties to even, "-" for negative values, no exponent. An exact
// zero of either sign prints without a sign. Non-finite values print as
// "nan", "inf" or "-inf".
std::string format_decimal(float value, int decimals);

// The decimal integer, no grouping.
std::string format_int(int32_t value);

namespace formatters {

// r = round_half_away(v * 10^d) / 10^d in float, printed with d decimals;
// a zero r of either sign prints as "0.0"/"0.00", never "-0.0".
FloatToText v2s_rounded(int decimals);

// v * 100 printed with d decimals; no percent sign (that is the unit's job).
FloatToText v2s_percentage(int decimals);

// Below 1000: v with d decimals then " Hz"; otherwise v / 1000 with
// max(d, 1) decimals then " kHz". The text carries its own unit.
FloatToText v2s_hz_then_khz(int decimals);

// Trims, drops every trailing ' ' and '%', reads a number and divides it by
// 100 ("75 %" reads as 0.75).
TextToFloat s2v_percentage();

} // namespace formatters

} // namespace plugin_kit
