#include "plugin_kit/vst3/text.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace plugin_kit::vst3_text {

namespace {

constexpr char32_t replacement = 0xFFFD;

// Decodes one UTF-8 sequence at `text[pos]`, advancing `pos`. Overlong
// forms, surrogates, values above U+10FFFF and cut sequences decode as
// U+FFFD, consuming one byte.
char32_t decode_utf8(std::string_view text, size_t& pos) noexcept {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    size_t length = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        cp = lead & 0x1Fu;
        min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0Fu;
        min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        cp = lead & 0x07u;
        min = 0x10000;
    } else {
        ++pos;
        return replacement;
    }
    if (pos + length > text.size()) {
        ++pos;
        return replacement;
    }
    for (size_t i = 1; i < length; ++i) {
        const uint8_t b = byte(pos + i);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return replacement;
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return replacement;
    }
    pos += length;
    return cp;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

void copy_to_field(std::string_view text, char* field, size_t size) noexcept {
    if (field == nullptr || size == 0) {
        return;
    }
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, size - n);
}

void copy_to_field(std::string_view text, vst3_abi::char16* field, size_t size) noexcept {
    if (field == nullptr || size == 0) {
        return;
    }
    size_t out = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        const char32_t cp = decode_utf8(text, pos);
        if (cp < 0x10000) {
            if (out + 1 > size - 1) {
                break;
            }
            field[out++] = static_cast<vst3_abi::char16>(cp);
        } else {
            if (out + 2 > size - 1) {
                break;
            }
            const char32_t v = cp - 0x10000;
            field[out++] = static_cast<vst3_abi::char16>(0xD800 + (v >> 10));
            field[out++] = static_cast<vst3_abi::char16>(0xDC00 + (v & 0x3FF));
        }
    }
    std::fill(field + out, field + size, vst3_abi::char16{0});
}

std::string to_utf8(const vst3_abi::char16* text, size_t max_units) {
    std::string out;
    if (text == nullptr) {
        return out;
    }
    for (size_t i = 0; i < max_units && text[i] != 0; ++i) {
        const char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const char32_t next = (i + 1 < max_units) ? char32_t{text[i + 1]} : 0;
            if (next >= 0xDC00 && next <= 0xDFFF) {
                append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
            append_utf8(out, replacement);
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            append_utf8(out, replacement);
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

} // namespace plugin_kit::vst3_text
