// The helper's own environment variables.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace installer_helper {

// The variable's value as WTF-8, or nothing when it is not set. An empty
// variable is set and empty.
std::optional<std::string> environment_variable(std::string_view name);

}  // namespace installer_helper
