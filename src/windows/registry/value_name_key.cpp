// The default lowercase mapping: every code point by its full mapping, and
// capital sigma by whether it ends a word.
#include "windows/registry/value_name_key.h"

#include "text_encoding.h"
#include "windows/registry/unicode_case_tables.h"

#include <algorithm>

namespace installer_helper {
namespace {

using unicode_case::CodePointRange;

constexpr char32_t capital_sigma = 0x03A3;
constexpr char32_t small_sigma = 0x03C3;
constexpr char32_t small_final_sigma = 0x03C2;

// Code points, with an unpaired surrogate kept as itself.
std::u32string code_points(std::string_view name) {
    const std::u16string units = utf16_from_wtf8(name);
    std::u32string points;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char32_t unit = units[i];
        const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() &&
                          units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
        points.push_back(pair ? 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00) : unit);
    }
    return points;
}

std::string wtf8_of(std::u32string_view points) {
    std::u16string units;
    for (const char32_t point : points) {
        if (point < 0x10000) {
            units.push_back(static_cast<char16_t>(point));
        } else {
            units.push_back(static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
        }
    }
    return wtf8_from_utf16(units);
}

bool in_ranges(std::span<const CodePointRange> ranges, char32_t point) {
    const auto starts_after = [](char32_t p, const CodePointRange& range) {
        return p < range.first;
    };
    const auto after = std::upper_bound(ranges.begin(), ranges.end(), point, starts_after);
    return after != ranges.begin() && point <= std::prev(after)->last;
}

bool is_cased(char32_t point) { return in_ranges(unicode_case::CASED, point); }
bool is_case_ignorable(char32_t point) { return in_ranges(unicode_case::CASE_IGNORABLE, point); }

// Whether a cased letter stands next to `at` in the direction of `step`,
// with only case-ignorable code points between them. A code point that is
// both (modifier letters such as U+02B0) is that cased letter, as the
// standard's definition reads; ICU and CPython skip it as ignorable.
bool cased_letter_beside(std::u32string_view text, std::size_t at, std::ptrdiff_t step) {
    for (auto i = static_cast<std::ptrdiff_t>(at) + step;
         i >= 0 && i < static_cast<std::ptrdiff_t>(text.size()); i += step) {
        const char32_t point = text[static_cast<std::size_t>(i)];
        if (is_cased(point)) return true;
        if (!is_case_ignorable(point)) return false;
    }
    return false;
}

// Final_Sigma: after a cased letter and not before one, case-ignorable
// code points skipped on either side.
bool ends_a_word(std::u32string_view text, std::size_t at) {
    return cased_letter_beside(text, at, -1) && !cased_letter_beside(text, at, +1);
}

// The table's entry for the code point, or null.
template <typename Mapping>
const Mapping* find_mapping(std::span<const Mapping> table, char32_t point) {
    const auto before = [](const Mapping& mapping, char32_t p) { return mapping.code_point < p; };
    const auto found = std::lower_bound(table.begin(), table.end(), point, before);
    return found != table.end() && found->code_point == point ? &*found : nullptr;
}

void append_lowercase(std::u32string& out, char32_t point) {
    if (const auto* expanding = find_mapping(unicode_case::EXPANDING_LOWERCASE, point))
        out += expanding->lowercase;
    else if (const auto* single = find_mapping(unicode_case::SINGLE_LOWERCASE, point))
        out.push_back(single->lowercase);
    else
        out.push_back(point);
}

}  // namespace

std::string value_name_key(std::string_view name) {
    const std::u32string text = code_points(name);
    std::u32string lower;
    lower.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == capital_sigma)
            lower.push_back(ends_a_word(text, i) ? small_final_sigma : small_sigma);
        else
            append_lowercase(lower, text[i]);
    }
    return wtf8_of(lower);
}

}  // namespace installer_helper
