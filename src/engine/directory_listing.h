// The entries of one directory, as Windows enumerates them.
#pragma once

#include "outcome.h"
#include "platform/win_api.h"

#include <string>
#include <string_view>
#include <vector>

namespace installer_helper {

// One entry as the directory lists it: its full path and its attributes,
// those of the entry itself (a reparse point shows as one).
struct ListedEntry {
    std::string path;
    win::DWORD attributes = 0;
};

// Every entry of the directory but "." and "..", in enumeration order. A
// search that finds nothing at all is an empty list.
Result<std::vector<ListedEntry>> list_directory_entries(std::string_view path);

// The same, full paths only.
Result<std::vector<std::string>> list_directory(std::string_view path);

}  // namespace installer_helper
