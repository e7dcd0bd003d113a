#include "plugin_kit/params/value_text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace plugin_kit {

namespace {

// Byte length of the white-space character that starts `text`, 0 if none.
std::size_t leading_white_space(std::string_view text) noexcept {
    if (text.empty()) {
        return 0;
    }
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char c0 = b(0);
    if (c0 == ' ' || (c0 >= 0x09 && c0 <= 0x0D)) {
        return 1;
    }
    if (text.size() >= 2 && c0 == 0xC2 && (b(1) == 0x85 || b(1) == 0xA0)) {
        return 2; // U+0085, U+00A0
    }
    if (text.size() >= 3) {
        const unsigned char c1 = b(1);
        const unsigned char c2 = b(2);
        if (c0 == 0xE1 && c1 == 0x9A && c2 == 0x80) {
            return 3; // U+1680
        }
        if (c0 == 0xE2 && c1 == 0x80 &&
            ((c2 >= 0x80 && c2 <= 0x8A) || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF)) {
            return 3; // U+2000..U+200A, U+2028, U+2029, U+202F
        }
        if (c0 == 0xE2 && c1 == 0x81 && c2 == 0x9F) {
            return 3; // U+205F
        }
        if (c0 == 0xE3 && c1 == 0x80 && c2 == 0x80) {
            return 3; // U+3000
        }
    }
    return 0;
}

// Byte length of the white-space character that ends `text`, 0 if none.
std::size_t trailing_white_space(std::string_view text) noexcept {
    for (std::size_t len = 1; len <= 3 && len <= text.size(); ++len) {
        if (leading_white_space(text.substr(text.size() - len)) == len) {
            return len;
        }
    }
    return 0;
}

} // namespace

std::string_view trim_white_space(std::string_view text) noexcept {
    while (const std::size_t n = leading_white_space(text)) {
        text.remove_prefix(n);
    }
    while (const std::size_t n = trailing_white_space(text)) {
        text.remove_suffix(n);
    }
    return text;
}

std::optional<float> parse_decimal_float(std::string_view text) noexcept {
    const char* first = text.data();
    const char* const last = text.data() + text.size();
    if (first == last) {
        return std::nullopt;
    }
    // std::from_chars takes no leading '+'; accept exactly one before the number.
    if (*first == '+') {
        ++first;
        if (first == last || *first == '+' || *first == '-') {
            return std::nullopt;
        }
    }
    float value = 0.0f;
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range && ptr == last) {
        // Either beyond the float range (rejected) or so small it underflows
        // (reads as a signed zero). The double reading tells which.
        double wide = 0.0;
        const auto [wptr, wec] = std::from_chars(first, last, wide, std::chars_format::general);
        if (wec == std::errc{} && wptr == last && std::fabs(wide) < 1.0) {
            return std::signbit(wide) ? -0.0f : 0.0f;
        }
        return std::nullopt;
    }
    if (ec != std::errc{} || ptr != last || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int32_t> parse_decimal_int32(std::string_view text) noexcept {
    const char* first = text.data();
    const char* const last = text.data() + text.size();
    if (first == last) {
        return std::nullopt;
    }
    if (*first == '+') {
        ++first;
        if (first == last || *first < '0' || *first > '9') {
            return std::nullopt;
        }
    }
    int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value, 10);
    if (ec != std::errc{} || ptr != last) {
        return std::nullopt;
    }
    return value;
}

float round_half_away(float value) noexcept {
    return std::round(value);
}

std::string format_decimal(float value, int decimals) {
    decimals = std::clamp(decimals, 0, 30);
    if (value == 0.0f) {
        value = 0.0f; // drops the sign of -0.0
    }
    // Up to 39 integer digits for FLT_MAX, a sign, a point and the decimals.
    char buffer[80];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc{}) {
        return {};
    }
    return std::string(buffer, ptr);
}

std::string format_int(int32_t value) {
    char buffer[16];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec; // 16 bytes always hold a 32-bit integer
    return std::string(buffer, ptr);
}

namespace formatters {

FloatToText v2s_rounded(int decimals) {
    float scale = 1.0f;
    for (int i = 0; i < decimals; ++i) {
        scale *= 10.0f;
    }
    return [decimals, scale](float value) {
        const float rounded = round_half_away(value * scale) / scale;
        return format_decimal(rounded == 0.0f ? 0.0f : rounded, decimals);
    };
}

FloatToText v2s_percentage(int decimals) {
    return [decimals](float value) { return format_decimal(value * 100.0f, decimals); };
}

FloatToText v2s_hz_then_khz(int decimals) {
    return [decimals](float value) {
        if (value < 1000.0f) {
            return format_decimal(value, decimals) + " Hz";
        }
        return format_decimal(value / 1000.0f, std::max(decimals, 1)) + " kHz";
    };
}

TextToFloat s2v_percentage() {
    return [](std::string_view text) -> std::optional<float> {
        text = trim_white_space(text);
        while (!text.empty() && (text.back() == ' ' || text.back() == '%')) {
            text.remove_suffix(1);
        }
        const std::optional<float> percent = parse_decimal_float(text);
        if (!percent) {
            return std::nullopt;
        }
        return *percent / 100.0f;
    };
}

} // namespace formatters

} // namespace plugin_kit
