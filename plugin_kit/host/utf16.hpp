#pragma once
// UTF-8 <-> UTF-16 for the VST3 host's text fields (parameter titles, units,
// value texts). Malformed input becomes U+FFFD rather than an error: these
// are display texts.

#include <cstddef>
#include <string>
#include <string_view>

namespace plugin_kit::host {

// `text` as UTF-16.
std::u16string to_utf16(std::string_view text);

// The zero-terminated UTF-16 text at `text`, at most `max_units` code units, as UTF-8.
std::string to_utf8(const char16_t* text, size_t max_units);

} // namespace plugin_kit::host
