#include "engine/directory_listing.h"

#include "text_encoding.h"
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

Result<DirectoryReader> DirectoryReader::open(std::string_view path) {
    const auto pattern = to_wide_nul(join_path(path, "*"));
    if (!pattern) return std::unexpected(pattern.error());
    win::WIN32_FIND_DATAW first;
    FindHandle search(win::FindFirstFileExW(pattern->c_str(), win::FindExInfoBasic, &first,
                                            win::FindExSearchNameMatch, 0));
    if (!search) {
        const win::DWORD error = win::GetLastError();
        if (error != win::ERROR_FILE_NOT_FOUND)
            return fail(format_message("Cannot inspect installer directory: {}",
                                       system_error_text(error)));
    }
    return DirectoryReader(std::string(path), std::move(search), first);
}

Result<std::optional<ListedEntry>> DirectoryReader::next() {
    while (search_) {
        // The next entry is asked for only now, after the caller has dealt
        // with the one before.
        if (!unread_ && !win::FindNextFileW(search_.get(), &found_)) {
            const win::DWORD error = win::GetLastError();
            if (error != win::ERROR_NO_MORE_FILES) return fail(system_error_text(error));
            search_.reset();
            break;
        }
        unread_ = false;
        const std::u16string_view name = name_of(found_);
        if (name != u"." && name != u"..")
            return ListedEntry{join_path(path_, wtf8_from_utf16(name)), found_.dwFileAttributes};
    }
    return std::optional<ListedEntry>();
}

Result<std::vector<ListedEntry>> list_directory_entries(std::string_view path) {
    auto reader = DirectoryReader::open(path);
    if (!reader) return std::unexpected(reader.error());
    std::vector<ListedEntry> entries;
    while (true) {
        auto entry = reader->next();
        if (!entry) return std::unexpected(entry.error());
        if (!*entry) return entries;
        entries.push_back(std::move(**entry));
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
