// The entries of one directory, as Windows enumerates them.
#pragma once

#include "outcome.h"
#include "platform/win_api.h"
#include "windows/handles.h"

#include <optional>
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

// A directory's entries one at a time, the search held open in between, so
// that walking a directory costs the same memory however many entries it
// has. Entries the caller deletes once read do not disturb the search.
class DirectoryReader {
public:
    static Result<DirectoryReader> open(std::string_view path);

    // The next entry but "." and "..", in enumeration order; nothing once
    // every entry was read.
    Result<std::optional<ListedEntry>> next();

private:
    DirectoryReader(std::string path, FindHandle search, const win::WIN32_FIND_DATAW& first)
        : path_(std::move(path)), search_(std::move(search)), found_(first) {}

    std::string path_;
    FindHandle search_;  // invalid once the search has ended
    win::WIN32_FIND_DATAW found_;
    bool unread_ = true;  // found_ holds the first entry, not yet returned
};

// Every entry of the directory but "." and "..", in enumeration order. A
// search that finds nothing at all is an empty list.
Result<std::vector<ListedEntry>> list_directory_entries(std::string_view path);

// The same, full paths only.
Result<std::vector<std::string>> list_directory(std::string_view path);

}  // namespace installer_helper
