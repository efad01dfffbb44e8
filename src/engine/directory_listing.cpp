#include "engine/directory_listing.h"

#include "platform/win_api.h"
#include "text_encoding.h"
#include "windows/handles.h"
#include "windows/installation_path.h"
#include "windows/system_error.h"

#include <algorithm>

namespace installer_helper {
namespace {

std::u16string_view name_of(const win::WIN32_FIND_DATAW& data) {
    const auto* end = std::find(std::begin(data.cFileName), std::end(data.cFileName), u'\0');
    return {data.cFileName, static_cast<std::size_t>(end - data.cFileName)};
}

}  // namespace

Result<std::vector<ListedEntry>> list_directory_entries(std::string_view path) {
    const auto pattern = to_wide_nul(join_path(path, "*"));
    if (!pattern) return std::unexpected(pattern.error());

    std::vector<ListedEntry> entries;
    win::WIN32_FIND_DATAW data;
    const FindHandle search(win::FindFirstFileExW(pattern->c_str(), win::FindExInfoBasic, &data,
                                                  win::FindExSearchNameMatch, 0));
    if (!search) {
        const win::DWORD error = win::GetLastError();
        if (error == win::ERROR_FILE_NOT_FOUND) return entries;
        return fail(
            format_message("Cannot inspect installer directory: {}", system_error_text(error)));
    }
    while (true) {
        const std::u16string_view name = name_of(data);
        if (name != u"." && name != u"..")
            entries.push_back({join_path(path, wtf8_from_utf16(name)), data.dwFileAttributes});
        if (!win::FindNextFileW(search.get(), &data)) {
            const win::DWORD error = win::GetLastError();
            if (error == win::ERROR_NO_MORE_FILES) return entries;
            return fail(system_error_text(error));
        }
    }
}

Result<std::vector<std::string>> list_directory(std::string_view path) {
    auto entries = list_directory_entries(path);
    if (!entries) return std::unexpected(entries.error());
    std::vector<std::string> paths;
    for (ListedEntry& entry : *entries) paths.push_back(std::move(entry.path));
    return paths;
}

}  // namespace installer_helper
