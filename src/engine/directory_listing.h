// The entries of one directory, as Windows enumerates them.
#pragma once

#include "outcome.h"

#include <string>
#include <string_view>
#include <vector>

namespace installer_helper {

// The full path of every entry of the directory but "." and "..", in
// enumeration order. A search that finds nothing at all is an empty list.
Result<std::vector<std::string>> list_directory(std::string_view path);

}  // namespace installer_helper
