// The form in which registry value names are compared: two names are the
// same value when their keys are equal byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace installer_helper {

// The full default lowercase mapping of the Unicode standard, Final_Sigma
// included, as UTF-8 (WTF-8 when the name holds an unpaired surrogate).
std::string value_name_key(std::string_view name);

}  // namespace installer_helper
