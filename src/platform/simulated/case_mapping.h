// The simple upper-casing Windows applies in ordinal case-insensitive
// comparisons and in file names.
#pragma once

#include <string>
#include <string_view>

namespace sim {

char16_t upper_case(char16_t unit);
std::u16string upper_case(std::u16string_view text);
bool equal_ignoring_case(std::u16string_view a, std::u16string_view b);

}  // namespace sim
