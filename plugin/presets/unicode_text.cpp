#include "plugin/presets/unicode_text.hpp"

#include "plugin/presets/unicode_tables.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tessellgrove {
namespace {

constexpr char32_t replacement_character = 0xFFFD;

// One decoding step: the code point (or U+FFFD) and the bytes it used.
struct Decoded {
    char32_t code_point;
    std::size_t length;
    bool valid;
};

// Decodes the sequence starting at `pos`. An ill-formed sequence consumes
// its maximal subpart (at least one byte), so a following lead byte starts
// a fresh sequence.
Decoded decode_at(std::string_view text, std::size_t pos) noexcept {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(pos);
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    std::size_t need = 0;
    char32_t cp = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        cp = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        cp = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {replacement_character, 1, false};
    }
    std::size_t used = 1;
    for (std::size_t k = 0; k < need; ++k) {
        if (pos + used >= text.size()) {
            return {replacement_character, used, false};
        }
        const std::uint8_t b = byte(pos + used);
        if (b < low || b > high) {
            return {replacement_character, used, false};
        }
        low = 0x80;
        high = 0xBF;
        cp = (cp << 6) | (b & 0x3Fu);
        ++used;
    }
    return {cp, used, true};
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

std::vector<char32_t> decode_lossy(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const Decoded d = decode_at(text, pos);
        out.push_back(d.code_point);
        pos += d.length;
    }
    return out;
}

bool in_ranges(const unicode_tables::CodePointRange* ranges, std::size_t count, char32_t c) noexcept {
    const auto* end = ranges + count;
    const auto* it = std::upper_bound(ranges, end, c,
        [](char32_t value, const unicode_tables::CodePointRange& r) { return value < r.first; });
    if (it == ranges) {
        return false;
    }
    --it;
    return c >= it->first && c <= it->last;
}

bool is_cased(char32_t c) noexcept {
    return in_ranges(unicode_tables::cased, unicode_tables::cased_size, c);
}

bool is_case_ignorable(char32_t c) noexcept {
    return in_ranges(unicode_tables::case_ignorable, unicode_tables::case_ignorable_size, c);
}

// Final_Sigma: a capital sigma preceded by a cased letter (skipping case-
// ignorable code points) and not followed by one becomes final sigma.
template <typename It>
bool case_ignorable_then_cased(It first, It last) noexcept {
    const auto it = std::find_if_not(first, last, [](char32_t c) { return is_case_ignorable(c); });
    return it != last && is_cased(*it);
}

} // namespace

bool is_unicode_whitespace(char32_t c) noexcept {
    return in_ranges(unicode_tables::white_space, unicode_tables::white_space_size, c);
}

bool is_valid_utf8(std::string_view text) noexcept {
    for (std::size_t pos = 0; pos < text.size();) {
        const Decoded d = decode_at(text, pos);
        if (!d.valid) {
            return false;
        }
        pos += d.length;
    }
    return true;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t pos = 0; pos < bytes.size();) {
        const Decoded d = decode_at(bytes, pos);
        if (d.valid) {
            out.append(bytes.substr(pos, d.length));
        } else {
            append_utf8(out, replacement_character);
        }
        pos += d.length;
    }
    return out;
}

std::string_view trim_unicode_whitespace(std::string_view text) noexcept {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const Decoded d = decode_at(text, begin);
        if (!d.valid || !is_unicode_whitespace(d.code_point)) {
            break;
        }
        begin += d.length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        // Step back to the start of the last sequence: at most four bytes.
        std::size_t start = end - 1;
        while (start > begin && end - start < 4 &&
               (static_cast<std::uint8_t>(text[start]) & 0xC0u) == 0x80u) {
            --start;
        }
        const Decoded d = decode_at(text, start);
        if (!d.valid || start + d.length != end || !is_unicode_whitespace(d.code_point)) {
            break;
        }
        end = start;
    }
    return text.substr(begin, end - begin);
}

std::string to_unicode_lower(std::string_view text) {
    const std::vector<char32_t> cps = decode_lossy(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < cps.size(); ++i) {
        const char32_t c = cps[i];
        if (c == 0x03A3) {
            const bool final_sigma =
                case_ignorable_then_cased(cps.rbegin() + static_cast<std::ptrdiff_t>(cps.size() - i),
                                          cps.rend()) &&
                !case_ignorable_then_cased(cps.begin() + static_cast<std::ptrdiff_t>(i + 1), cps.end());
            append_utf8(out, final_sigma ? char32_t{0x03C2} : char32_t{0x03C3});
            continue;
        }
        const auto* full_end = unicode_tables::lower_full + unicode_tables::lower_full_size;
        const auto* full = std::lower_bound(unicode_tables::lower_full, full_end, c,
            [](const unicode_tables::FullMapping& m, char32_t value) { return m.from < value; });
        if (full != full_end && full->from == c) {
            for (std::size_t k = 0; k < full->count; ++k) {
                append_utf8(out, full->to[k]);
            }
            continue;
        }
        const auto* simple_end = unicode_tables::lower_simple + unicode_tables::lower_simple_size;
        const auto* simple = std::lower_bound(unicode_tables::lower_simple, simple_end, c,
            [](const unicode_tables::SimpleMapping& m, char32_t value) { return m.from < value; });
        append_utf8(out, (simple != simple_end && simple->from == c) ? simple->to : c);
    }
    return out;
}

} // namespace tessellgrove
