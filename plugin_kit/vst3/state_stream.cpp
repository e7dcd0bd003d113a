#include "plugin_kit/vst3/state_stream.hpp"

#include <algorithm>
#include <limits>

namespace plugin_kit {

using namespace vst3_abi;

std::optional<std::string> read_vst3_state(IBStream* stream) {
    if (stream == nullptr || stream->vtbl == nullptr) {
        return std::nullopt;
    }
    int64 start = 0;
    if (stream->vtbl->tell(stream, &start) != kResultOk || start < 0) {
        return std::nullopt;
    }
    int64 end = 0;
    if (stream->vtbl->seek(stream, 0, kIBSeekEnd, &end) != kResultOk) {
        return std::nullopt;
    }
    int64 back = 0;
    if (stream->vtbl->seek(stream, start, kIBSeekSet, &back) != kResultOk || back != start) {
        return std::nullopt;
    }
    if (end < start || end - start > max_vst3_state_size) {
        return std::nullopt;
    }
    const auto size = static_cast<int32>(end - start);
    std::string text(static_cast<size_t>(size), '\0');
    if (size == 0) {
        return text;
    }
    // Streams may deliver fewer bytes than asked, so reading repeats until
    // the text is complete; a read that brings nothing (or fails) before then
    // means the stream ended early. A stream that succeeds without reporting
    // a count has read all it was asked for.
    int32 done = 0;
    while (done < size) {
        int32 got = -1;
        if (stream->vtbl->read(stream, text.data() + done, size - done, &got) != kResultOk) {
            return std::nullopt;
        }
        if (got == -1) {
            got = size - done;
        }
        if (got <= 0 || got > size - done) {
            return std::nullopt;
        }
        done += got;
    }
    return text;
}

bool write_vst3_state(IBStream* stream, std::string_view text) noexcept {
    if (stream == nullptr || stream->vtbl == nullptr) {
        return false;
    }
    // The write takes a mutable pointer although it only reads the bytes.
    char* bytes = const_cast<char*>(text.data());
    size_t done = 0;
    while (done < text.size()) {
        const auto want = static_cast<int32>(
            std::min<size_t>(text.size() - done, static_cast<size_t>(std::numeric_limits<int32>::max())));
        // A stream that succeeds without reporting a count took it all.
        int32 written = -1;
        if (stream->vtbl->write(stream, bytes + done, want, &written) != kResultOk) {
            return false;
        }
        if (written == -1) {
            written = want;
        }
        if (written <= 0 || written > want) {
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

} // namespace plugin_kit
