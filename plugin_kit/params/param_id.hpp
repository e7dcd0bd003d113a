#pragma once
// Numeric parameter ids as hosts see them (CLAP and VST3 alike).
//
// The id is a 31-bit hash of the parameter's text id, so it is stable across
// builds as long as the text id is: renaming a text id breaks automation and
// every host-side reference recorded against the old id.

#include <cstdint>
#include <string_view>

namespace plugin_kit {

// h = h * 31 + byte over the UTF-8 bytes (wrapping mod 2^32), top bit cleared.
constexpr uint32_t param_id_hash(std::string_view text_id) noexcept;

// ---------------------------------------------------------------------------

constexpr uint32_t param_id_hash(std::string_view text_id) noexcept {
    uint32_t h = 0;
    for (const char c : text_id) {
        h = h * 31u + static_cast<uint32_t>(static_cast<unsigned char>(c));
    }
    return h & 0x7FFF'FFFFu;
}

} // namespace plugin_kit
