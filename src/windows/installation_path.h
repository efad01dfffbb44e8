// The one normaliser and the one comparison for directories, and the one rule
// for handing text to Windows.
#pragma once

#include "outcome.h"

#include <string>
#include <string_view>

namespace installer_helper {

// An absolute path on a local drive with "." and ".." resolved textually:
// drive letter, colon, backslash, then at least one component. Pure.
Result<std::string> normalize_installation_path(std::string_view path);

// Whether two paths name the same directory: both normalised, then compared
// ordinally ignoring case. A path that fails normalisation matches nothing.
bool same_installation_path(std::string_view a, std::string_view b);

// The text as a NUL-terminated UTF-16 buffer for a Windows call.
Result<std::u16string> to_wide_nul(std::string_view text);

// Joins a relative name (backslash-separated) onto a directory.
std::string join_path(std::string_view directory, std::string_view name);

}  // namespace installer_helper
