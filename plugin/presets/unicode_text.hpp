#pragma once
// Unicode text helpers for preset names and file stems: UTF-8 decoding with
// replacement of ill-formed sequences, trimming by the White_Space property
// and the full (context-aware for final sigma) Unicode lower-case mapping.

#include <string>
#include <string_view>

namespace tessellgrove {

// True when `text` is well-formed UTF-8 (no overlongs, surrogates or
// code points above U+10FFFF).
bool is_valid_utf8(std::string_view text) noexcept;

// Copy of `bytes` with every maximal ill-formed UTF-8 subsequence replaced
// by U+FFFD, following the Unicode "maximal subpart" practice.
std::string utf8_lossy(std::string_view bytes);

// `text` without leading and trailing White_Space code points. Bytes that
// are not well-formed UTF-8 stop the trimming.
std::string_view trim_unicode_whitespace(std::string_view text) noexcept;

// Full Unicode lower-case mapping of `text` (SpecialCasing unconditional
// mappings plus the Final_Sigma rule; no language-specific rules).
// Ill-formed UTF-8 is replaced by U+FFFD first.
std::string to_unicode_lower(std::string_view text);

// Whether a code point has the White_Space property.
bool is_unicode_whitespace(char32_t c) noexcept;

} // namespace tessellgrove
