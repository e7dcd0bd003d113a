// Text conversions of the VST3 host: what plug-ins' UTF-16 fields become,
// and what typed UTF-8 text is handed to them as.

#include "plugin_kit/host/utf16.hpp"

#include <gtest/gtest.h>

namespace plugin_kit::host {
namespace {

struct Utf16Case {
    std::string utf8;
    std::u16string utf16;
};

class Utf16RoundTrip : public ::testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16RoundTrip, BothWays) {
    const Utf16Case& c = GetParam();
    EXPECT_EQ(to_utf16(c.utf8), c.utf16);
    EXPECT_EQ(to_utf8(c.utf16.c_str(), c.utf16.size() + 1), c.utf8);
}

INSTANTIATE_TEST_SUITE_P(Texts, Utf16RoundTrip,
                         ::testing::Values(Utf16Case{"", u""}, Utf16Case{"440 Hz", u"440 Hz"},
                                           Utf16Case{"\xC2\xB5s", u"\u00B5s"},       // two-byte
                                           Utf16Case{"\xE2\x82\xAC", u"\u20AC"},     // three-byte
                                           Utf16Case{"\xF0\x9F\x8E\xB9", u"\U0001F3B9"})); // surrogate pair

TEST(Utf16, MalformedInputBecomesReplacementCharacters) {
    // A lone continuation byte, a cut-off sequence, an overlong '/' and an
    // encoded surrogate each give U+FFFD per offending byte.
    EXPECT_EQ(to_utf16("a\x80" "b"), u"a\uFFFDb");
    EXPECT_EQ(to_utf16("\xE2\x82"), u"\uFFFD\uFFFD");
    EXPECT_EQ(to_utf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(to_utf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    // An unpaired surrogate from a plug-in is shown as U+FFFD.
    const char16_t lone[] = {u'x', 0xD800, u'y', 0};
    EXPECT_EQ(to_utf8(lone, 4), "x\xEF\xBF\xBDy");
    // A field without a terminator is read only to its size.
    const char16_t full[] = {u'a', u'b', u'c'};
    EXPECT_EQ(to_utf8(full, 2), "ab");
}

} // namespace
} // namespace plugin_kit::host
