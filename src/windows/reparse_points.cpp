#include "windows/reparse_points.h"

#include "platform/win_api.h"
#include "windows/handles.h"
#include "windows/installation_path.h"
#include "windows/system_error.h"

#include "message_format.h"
#include <optional>
#include <string>
#include <vector>

namespace installer_helper {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }
bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

PathKind classify(win::DWORD attributes) {
    if ((attributes & win::FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::ReparsePoint;
    if ((attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Directory;
    return PathKind::RegularFile;
}

Result<PathKind> missing_or_error(win::DWORD error) {
    if (means_path_missing(error)) return PathKind::Missing;
    return fail(format_message("Cannot inspect installer path: {}", system_error_text(error)));
}

// The end of "server\share" and the separator after it, if any. The server
// "." or "?" would make it a device path.
std::optional<std::size_t> unc_share_end(std::string_view text, bool either_slash) {
    const auto separator = [either_slash](char c) {
        return either_slash ? is_separator(c) : c == '\\';
    };
    std::size_t server_end = 0;
    while (server_end < text.size() && !separator(text[server_end])) ++server_end;
    const std::string_view server = text.substr(0, server_end);
    if (server.empty() || server == "." || server == "?" || server_end + 1 >= text.size())
        return std::nullopt;
    std::size_t share_end = server_end + 1;
    while (share_end < text.size() && !separator(text[share_end])) ++share_end;
    if (share_end == server_end + 1) return std::nullopt;
    return share_end < text.size() ? share_end + 1 : share_end;
}

// Where the part that names a root ends, separator included, for the
// absolute forms that name a file-system path: "C:\", "\\server\share\",
// and their extended-length forms "\\?\C:\" and "\\?\UNC\server\share\".
// Device paths ("\\.\...", "\\?\GLOBALROOT\...", "\\?\Volume{...}\...")
// reach raw disks, pipes and other devices, so they have no root here.
std::optional<std::size_t> root_length(std::string_view path) {
    if (path.size() >= 3 && is_ascii_letter(path[0]) && path[1] == ':' && is_separator(path[2]))
        return 3;
    if (path.starts_with("\\\\?\\")) {
        const std::string_view rest = path.substr(4);
        if (rest.size() >= 3 && is_ascii_letter(rest[0]) && rest[1] == ':' && rest[2] == '\\')
            return 7;
        if (!rest.starts_with("UNC\\")) return std::nullopt;
        const auto share = unc_share_end(rest.substr(4), false);
        if (!share) return std::nullopt;
        return 8 + *share;
    }
    if (path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]))
        return unc_share_end(path.substr(2), true).transform([](std::size_t end) { return end + 2; });
    return std::nullopt;
}

// The parent of a path that is longer than its root, by text: trailing
// separators, the last component and the separators before it go.
std::string_view parent_of(std::string_view path, std::size_t root) {
    std::size_t end = path.size();
    while (end > root && is_separator(path[end - 1])) --end;
    while (end > root && !is_separator(path[end - 1])) --end;
    while (end > root && is_separator(path[end - 1])) --end;
    return path.substr(0, end);
}

std::string_view without_trailing_separators(std::string_view path, std::size_t root) {
    while (path.size() > root && is_separator(path.back())) path.remove_suffix(1);
    return path;
}

}  // namespace

bool is_absolute_installer_path(std::string_view path) { return root_length(path).has_value(); }

IoResult<win::DWORD> read_path_attributes(std::string_view path) {
    auto wide = to_wide_nul(path);
    if (!wide) return std::unexpected(IoError{std::nullopt, wide.error().message()});

    const FileHandle file(win::CreateFileW(
        wide->c_str(), 0, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE,
        nullptr, win::OPEN_EXISTING,
        win::FILE_FLAG_BACKUP_SEMANTICS | win::FILE_FLAG_OPEN_REPARSE_POINT));
    if (file) {
        // The attributes alone: cheaper than the whole information, which
        // also asks the volume for its serial number.
        win::FILE_ATTRIBUTE_TAG_INFO tag;
        if (!win::GetFileInformationByHandleEx(file.get(), win::FileAttributeTagInfo, &tag,
                                               sizeof(tag)))
            return std::unexpected(IoError::last_windows_error());
        return tag.FileAttributes;
    }

    const win::DWORD open_error = win::GetLastError();
    if (open_error != win::ERROR_ACCESS_DENIED && open_error != win::ERROR_SHARING_VIOLATION)
        return std::unexpected(IoError{open_error, {}});

    // The entry may not be opened; its directory entry still tells what it is.
    win::WIN32_FIND_DATAW data;
    const FindHandle search(win::FindFirstFileExW(wide->c_str(), win::FindExInfoBasic, &data,
                                                  win::FindExSearchNameMatch, 0));
    if (!search) return std::unexpected(IoError::last_windows_error());
    return data.dwFileAttributes;
}

Result<PathKind> inspect_path(std::string_view path) {
    const auto attributes = read_path_attributes(path);
    if (attributes) return classify(*attributes);
    if (!attributes.error().code) return fail(attributes.error().description);
    return missing_or_error(*attributes.error().code);
}

std::vector<std::string> directories_from_root(std::string_view path) {
    const auto root = root_length(path);
    if (!root) return {};
    std::vector<std::string> directories;
    std::string_view current = without_trailing_separators(path, *root);
    while (true) {
        directories.emplace_back(current);
        if (current.size() <= *root) break;
        current = parent_of(current, *root);
        if (current.size() < *root) current = path.substr(0, *root);
    }
    return {directories.rbegin(), directories.rend()};
}

Result<> ensure_no_reparse_points(std::string_view path) {
    return ensure_no_reparse_points_below(path, {});
}

Result<> ensure_no_reparse_points_below(std::string_view path, std::string_view pinned) {
    const auto root = root_length(path);
    if (!root) return fail("Installer paths must be absolute.");
    // Below it by text: the pinned directory, then a separator, then more.
    const bool below = !pinned.empty() && path.size() > pinned.size() + 1 &&
                       path.starts_with(pinned) && path[pinned.size()] == '\\';
    const std::size_t stop = below ? pinned.size() : 0;
    // Each component is inspected without trailing separators, the form in
    // which its directory entry can be found.
    std::string_view current = without_trailing_separators(path, *root);
    while (true) {
        const auto kind = inspect_path(current);
        if (!kind) return std::unexpected(kind.error());
        if (*kind == PathKind::ReparsePoint)
            return fail("A junction or symbolic link cannot be modified by setup.");
        if (current.size() <= *root) return {};
        current = parent_of(current, *root);
        if (current.size() <= stop) return {};
        if (current.size() < *root) current = path.substr(0, *root);
    }
}

}  // namespace installer_helper
