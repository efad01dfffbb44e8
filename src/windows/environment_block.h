// Reading an environment block from CreateEnvironmentBlock.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace installer_helper {

struct EnvironmentEntry {
    std::string name;   // UTF-8, unpaired surrogates replaced by U+FFFD
    std::string value;  // a platform string (WTF-8)
};

// The "NAME=value" entries in block order. Entries without a name (no "=",
// or "=" first, as in the per-drive "=C:=C:\") are left out.
std::vector<EnvironmentEntry> read_environment_block(const char16_t* block);

// The temporary directory as GetTempPath finds it: the first non-empty TMP,
// then TEMP, then USERPROFILE, names compared ignoring ASCII case.
std::optional<std::string> temporary_directory_in(const std::vector<EnvironmentEntry>& entries);

}  // namespace installer_helper
