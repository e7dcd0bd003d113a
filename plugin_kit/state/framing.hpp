#pragma once
// Length-prefixed framing of a state text for byte streams that may accept
// or deliver fewer bytes than asked (CLAP streams): an unsigned 64-bit
// little-endian length, then the text.
//
// Reading never trusts the announced length for allocation: the text grows
// only as bytes actually arrive, in chunks, so a corrupt or hostile prefix
// ("2^63 bytes follow") costs nothing until the bytes are really there.
//
// The stream is given as a callable:
//   write(const void* data, uint64_t size) -> int64_t  bytes taken, < 0 on error
//   read(void* data, uint64_t size)        -> int64_t  bytes read, 0 at end, < 0 on error

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plugin_kit {

// Largest framed text a read accepts; states are a few kilobytes, so anything
// near this is a corrupt stream rather than a state.
inline constexpr uint64_t max_framed_state_size = 64ull * 1024 * 1024;
// Bytes asked of the stream per read while collecting the text.
inline constexpr uint64_t framed_read_chunk = 4096;

// Writes all of `data`, repeating partial writes. False when the stream
// reports an error, takes nothing, or claims more than it was given.
template <typename WriteFn>
bool write_all(WriteFn&& write, const void* data, uint64_t size);

// Reads exactly `size` bytes into `data`, repeating partial reads. False at
// an early end of stream or on an error.
template <typename ReadFn>
bool read_exact(ReadFn&& read, void* data, uint64_t size);

// Writes the 8-byte little-endian length of `text`, then `text`.
template <typename WriteFn>
bool write_framed(WriteFn&& write, std::string_view text);

// Reads one framed text; nullopt when the stream ends early, reports an
// error or announces more than max_framed_state_size bytes. Bytes after the
// text are left unread.
template <typename ReadFn>
std::optional<std::string> read_framed(ReadFn&& read);

// ---------------------------------------------------------------------------

template <typename WriteFn>
bool write_all(WriteFn&& write, const void* data, uint64_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    uint64_t done = 0;
    while (done < size) {
        const int64_t n = write(bytes + done, size - done);
        if (n <= 0 || static_cast<uint64_t>(n) > size - done) {
            return false;
        }
        done += static_cast<uint64_t>(n);
    }
    return true;
}

template <typename ReadFn>
bool read_exact(ReadFn&& read, void* data, uint64_t size) {
    auto* bytes = static_cast<unsigned char*>(data);
    uint64_t done = 0;
    while (done < size) {
        const int64_t n = read(bytes + done, size - done);
        if (n <= 0 || static_cast<uint64_t>(n) > size - done) {
            return false;
        }
        done += static_cast<uint64_t>(n);
    }
    return true;
}

template <typename WriteFn>
bool write_framed(WriteFn&& write, std::string_view text) {
    const auto length = static_cast<uint64_t>(text.size());
    std::array<unsigned char, 8> prefix{};
    for (size_t i = 0; i < prefix.size(); ++i) {
        prefix[i] = static_cast<unsigned char>(length >> (8 * i));
    }
    return write_all(write, prefix.data(), prefix.size()) && write_all(write, text.data(), length);
}

template <typename ReadFn>
std::optional<std::string> read_framed(ReadFn&& read) {
    std::array<unsigned char, 8> prefix{};
    if (!read_exact(read, prefix.data(), prefix.size())) {
        return std::nullopt;
    }
    uint64_t length = 0;
    for (size_t i = 0; i < prefix.size(); ++i) {
        length |= static_cast<uint64_t>(prefix[i]) << (8 * i);
    }
    if (length > max_framed_state_size) {
        return std::nullopt;
    }
    std::string text;
    std::array<char, framed_read_chunk> chunk{};
    while (text.size() < length) {
        const uint64_t want = std::min<uint64_t>(chunk.size(), length - text.size());
        if (!read_exact(read, chunk.data(), want)) {
            return std::nullopt;
        }
        text.append(chunk.data(), static_cast<size_t>(want));
    }
    return text;
}

} // namespace plugin_kit
