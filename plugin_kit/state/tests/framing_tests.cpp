#include "plugin_kit/state/framing.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using plugin_kit::read_framed;
using plugin_kit::write_framed;

// A sink that takes at most `piece` bytes per call.
struct PieceSink {
    uint64_t piece;
    std::string bytes;
    int64_t operator()(const void* data, uint64_t size) {
        const uint64_t n = std::min(size, piece);
        bytes.append(static_cast<const char*>(data), n);
        return static_cast<int64_t>(n);
    }
};

// A source that hands out at most `piece` bytes per call, then reports the
// end of the stream (0) or, with `error_at_end`, an error (-1).
struct PieceSource {
    std::string bytes;
    uint64_t piece;
    bool error_at_end = false;
    size_t pos = 0;
    int64_t operator()(void* data, uint64_t size) {
        if (pos == bytes.size()) {
            return error_at_end ? -1 : 0;
        }
        const uint64_t n = std::min<uint64_t>({size, piece, bytes.size() - pos});
        std::memcpy(data, bytes.data() + pos, n);
        pos += n;
        return static_cast<int64_t>(n);
    }
};

std::string prefix(uint64_t length) {
    std::string p(8, '\0');
    for (size_t i = 0; i < 8; ++i) {
        p[i] = static_cast<char>(length >> (8 * i));
    }
    return p;
}

TEST(Framing, WritesLittleEndianLengthThenTextThroughSmallPieces) {
    const std::string text(300, 'x');
    for (const uint64_t piece : {1u, 17u, 4096u}) {
        PieceSink sink{piece, {}};
        ASSERT_TRUE(write_framed(sink, text));
        EXPECT_EQ(sink.bytes, prefix(300) + text) << piece;
        EXPECT_EQ(static_cast<unsigned char>(sink.bytes[0]), 0x2Cu); // 300 = 0x012C
        EXPECT_EQ(static_cast<unsigned char>(sink.bytes[1]), 0x01u);
    }
}

TEST(Framing, WriteFailsWhenTheStreamRefuses) {
    const auto refuse = [](const void*, uint64_t) -> int64_t { return 0; };
    const auto error = [](const void*, uint64_t) -> int64_t { return -1; };
    const auto liar = [](const void*, uint64_t size) -> int64_t { return static_cast<int64_t>(size + 1); };
    EXPECT_FALSE(write_framed(refuse, "abc"));
    EXPECT_FALSE(write_framed(error, "abc"));
    EXPECT_FALSE(write_framed(liar, "abc"));
}

TEST(Framing, ReadsBackThroughSmallPiecesAndLeavesTrailingBytes) {
    const std::string text = "{\"a\":1}" + std::string(5000, ' ');
    for (const uint64_t piece : {1u, 17u, 100000u}) {
        PieceSource source{prefix(text.size()) + text + "TRAILING", piece};
        const auto read = read_framed(source);
        ASSERT_TRUE(read) << piece;
        EXPECT_EQ(*read, text);
        EXPECT_EQ(source.bytes.substr(source.pos), "TRAILING");
    }
}

struct ShortCase {
    const char* name;
    std::string bytes;
    bool error_at_end;
};

TEST(Framing, ShortOrBrokenStreamsFail) {
    const ShortCase cases[] = {
        {"empty", "", false},
        {"half_prefix", prefix(3).substr(0, 5), false},
        {"fewer_bytes_than_announced", prefix(10) + "abc", false},
        {"error_after_some_bytes", prefix(10) + "abc", true},
        {"huge_announcement", prefix(uint64_t{1} << 62) + "abc", false},
        {"announcement_past_the_limit", prefix(plugin_kit::max_framed_state_size + 1) + "abc", false},
    };
    for (const auto& c : cases) {
        for (const uint64_t piece : {1u, 17u}) {
            PieceSource source{c.bytes, piece, c.error_at_end};
            EXPECT_FALSE(read_framed(source)) << c.name << " piece " << piece;
        }
    }
}

TEST(Framing, ZeroLengthTextIsValid) {
    PieceSource source{prefix(0), 1};
    const auto read = read_framed(source);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->empty());
}

} // namespace
