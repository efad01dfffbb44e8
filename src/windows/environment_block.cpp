#include "windows/environment_block.h"

#include "ascii_case.h"
#include "text_encoding.h"

#include <array>
#include <string_view>

namespace installer_helper {
namespace {

constexpr std::array<std::string_view, 3> temporary_directory_names = {"TMP", "TEMP",
                                                                       "USERPROFILE"};

}  // namespace

std::vector<EnvironmentEntry> read_environment_block(const char16_t* block) {
    std::vector<EnvironmentEntry> entries;
    for (const char16_t* next = block; *next != 0;) {
        const std::u16string_view entry(next);
        next += entry.size() + 1;
        const std::size_t equals = entry.find(u'=');
        if (equals == std::u16string_view::npos || equals == 0) continue;
        entries.push_back({utf8_from_utf16_lossy(entry.substr(0, equals)),
                           wtf8_from_utf16(entry.substr(equals + 1))});
    }
    return entries;
}

std::optional<std::string> temporary_directory_in(const std::vector<EnvironmentEntry>& entries) {
    for (const std::string_view name : temporary_directory_names)
        for (const EnvironmentEntry& entry : entries)
            if (equal_ignoring_ascii_case(entry.name, name) && !entry.value.empty())
                return entry.value;
    return std::nullopt;
}

}  // namespace installer_helper
