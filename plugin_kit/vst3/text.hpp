#pragma once
// Text for VST3's fixed-size record fields: UTF-8 into 8-bit and UTF-16
// fields with truncation and a terminating zero, and UTF-16 from hosts back
// into UTF-8.

#include "plugin_kit/abi/vst3/base.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace plugin_kit::vst3_text {

// Copies at most size - 1 bytes of `text` into `field` and zero-fills the
// rest, so the field always ends in a zero.
void copy_to_field(std::string_view text, char* field, size_t size) noexcept;

// Writes `text` (UTF-8) as UTF-16 into `field`: at most size - 1 code units,
// never half a surrogate pair, zero-filled behind. Malformed UTF-8 bytes
// become U+FFFD.
void copy_to_field(std::string_view text, vst3_abi::char16* field, size_t size) noexcept;

// The zero-terminated UTF-16 text at `text` as UTF-8, reading at most
// `max_units` code units. Unpaired surrogates become U+FFFD.
std::string to_utf8(const vst3_abi::char16* text, size_t max_units);

template <size_t N>
void copy_to_field(std::string_view text, char (&field)[N]) noexcept {
    copy_to_field(text, field, N);
}

template <size_t N>
void copy_to_field(std::string_view text, vst3_abi::char16 (&field)[N]) noexcept {
    copy_to_field(text, field, N);
}

} // namespace plugin_kit::vst3_text
