#include "plugin/presets/unicode_text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tessellgrove {
namespace {

TEST(UnicodeLower, FullMappingAndFinalSigma) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"Ambient WASH", "ambient wash"},
        {"ÀÉÎÕÜ", "àéîõü"},
        {"İstanbul", "i\xCC\x87stanbul"},      // U+0130 lower-cases to two code points
        {"ΣΑΣ", "σας"},                           // final sigma at the end of a word
        {"Σ", "σ"},                               // alone: not final
        {"ΑΣ Β", "ας β"},
        {"ΑΣ.", "ας."},
        {"Α'Σ'", "α'ς'"},                         // case-ignorable quote is skipped
        {"ΑΣΒ", "ασβ"},                           // followed by a letter: not final
        {"ẞ", "ß"},
        {"ǅ", "ǆ"},
        {"Ⅻ", "ⅻ"},                              // letter-like numerals have mappings
        {"ＡＢＣ", "ａｂｃ"},
        {"𐐀", "𐐨"},                              // outside the BMP
        {"ß", "ß"},
        {"日本", "日本"},
        {"\xff" "A", "\xEF\xBF\xBD" "a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(to_unicode_lower(c.in), c.out) << c.in;
    }
}

TEST(UnicodeTrim, WhiteSpaceProperty) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"  Pad  ", "Pad"},
        {"\t\n\v\f\r x \x1c", "x \x1c"},               // U+001C is not White_Space
        {"\xC2\xA0Pad\xE2\x80\x83", "Pad"},            // NBSP, EM SPACE
        {"\xE3\x80\x80" "a b" "\xE2\x80\xA8", "a b"},  // IDEOGRAPHIC SPACE, LINE SEPARATOR
        {"\xC2\x85x\xE2\x80\xAF", "x"},                // NEL, NARROW NBSP
        {"\xE2\x80\x8B" "x", "\xE2\x80\x8B" "x"},      // ZERO WIDTH SPACE is not White_Space
        {"\xE1\xA0\x8E" "x", "\xE1\xA0\x8E" "x"},      // MONGOLIAN VOWEL SEPARATOR (no longer White_Space)
        {"   ", ""},
        {"", ""},
        {" \xff ", "\xff"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::string(trim_unicode_whitespace(c.in)), c.out) << c.in;
    }
}

TEST(Utf8Lossy, MaximalSubpartsBecomeOneReplacementEach) {
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain", "plain"},
        {"\xff", r},
        {"a\x80" "b", "a" + r + "b"},
        {"\xE2\x82", r},                      // truncated three-byte sequence
        {"\xE2\x82" "A", r + "A"},
        {"\xF0\x9F\x98", r},                  // truncated four-byte sequence
        {"\xED\xA0\x80", r + r + r},          // encoded surrogate
        {"\xC0\xAF", r + r},                  // overlong
        {"\xF4\x90\x80\x80", r + r + r + r},  // beyond U+10FFFF
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8_lossy(c.in), c.out) << c.in;
        EXPECT_EQ(is_valid_utf8(c.in), c.in == c.out) << c.in;
    }
}

} // namespace
} // namespace tessellgrove
