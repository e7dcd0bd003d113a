#pragma once
// The plug-in state on a VST3 IBStream: the state text itself, no prefix and
// no terminator.
//
// A VST3 stream tells its length only through seeking, so reading takes the
// current position, seeks to the end for the size, seeks back and reads the
// rest in one call. Threads: main thread.

#include "plugin_kit/abi/vst3/base.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plugin_kit {

// Largest state a stream may hold; states are a few kilobytes, so anything
// near this is a corrupt stream rather than a state.
inline constexpr int64_t max_vst3_state_size = 64ll * 1024 * 1024;

// Everything from the stream's position to its end; nullopt when telling or
// seeking fails, the size exceeds max_vst3_state_size, or the read delivers
// fewer bytes than the stream announced.
std::optional<std::string> read_vst3_state(vst3_abi::IBStream* stream);

// Writes all of `text`, repeating partial writes. False when the stream
// reports an error or stops taking bytes.
bool write_vst3_state(vst3_abi::IBStream* stream, std::string_view text) noexcept;

} // namespace plugin_kit
