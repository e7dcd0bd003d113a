#pragma once
// Unicode tables generated at build time from the Unicode Character
// Database (see tools/gen_unicode_tables.py). Every table is sorted by code
// point for binary search; ranges are inclusive and do not overlap.

#include <cstddef>
#include <cstdint>

namespace tessellgrove::unicode_tables {

// One code point that lower-cases to exactly one other code point.
struct SimpleMapping {
    char32_t from;
    char32_t to;
};

// One code point that lower-cases to several code points (U+0130).
struct FullMapping {
    char32_t from;
    std::uint8_t count;
    char32_t to[3];
};

// Inclusive range of code points holding a property.
struct CodePointRange {
    char32_t first;
    char32_t last;
};

extern const SimpleMapping lower_simple[];
extern const std::size_t lower_simple_size;
extern const FullMapping lower_full[];
extern const std::size_t lower_full_size;
extern const CodePointRange white_space[];
extern const std::size_t white_space_size;
extern const CodePointRange cased[];
extern const std::size_t cased_size;
extern const CodePointRange case_ignorable[];
extern const std::size_t case_ignorable_size;

} // namespace tessellgrove::unicode_tables
