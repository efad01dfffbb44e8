// The parts of the Unicode Character Database that the default lowercase
// mapping needs. The tables are generated (unicode_case_tables.cpp, by
// scripts/generate_unicode_case_tables.py) so that the build needs no
// Unicode library: none can be linked into the Windows build.
#pragma once

#include <span>
#include <string_view>

namespace installer_helper::unicode_case {

struct LowercaseMapping {
    char32_t code_point;
    char32_t lowercase;
};

struct ExpandingLowercase {
    char32_t code_point;
    std::u32string_view lowercase;  // more than one code point
};

struct CodePointRange {
    char32_t first;
    char32_t last;  // inclusive
};

// The version of the database the tables were generated from.
extern const std::string_view UNICODE_VERSION;
// Full lowercase mappings other than the identity, without Final_Sigma
// (the one conditional mapping, which needs the text around it). Both are
// sorted by code point, and no code point is in both.
extern const std::span<const LowercaseMapping> SINGLE_LOWERCASE;
extern const std::span<const ExpandingLowercase> EXPANDING_LOWERCASE;
// The derived properties Cased and Case_Ignorable: sorted, disjoint ranges.
extern const std::span<const CodePointRange> CASED;
extern const std::span<const CodePointRange> CASE_IGNORABLE;

}  // namespace installer_helper::unicode_case
