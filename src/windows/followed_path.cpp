#include "windows/followed_path.h"

#include "message_format.h"
#include "platform/win_api.h"
#include "windows/handles.h"
#include "windows/installation_path.h"
#include "windows/system_error.h"

namespace installer_helper {
namespace {

FollowedKind kind_of(win::DWORD attributes) {
    return (attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0 ? FollowedKind::Directory
                                                             : FollowedKind::File;
}

Result<FollowedKind> missing_or_error(win::DWORD error) {
    if (means_path_missing(error)) return FollowedKind::Missing;
    return std::unexpected(directory_inspection_error(error));
}

}  // namespace

HelperError directory_inspection_error(win::DWORD code) {
    return HelperError(
        format_message("Cannot inspect the installation directory: {}", system_error_text(code)));
}

Result<FollowedKind> followed_kind(std::string_view path) {
    const auto wide = to_wide_nul(path);
    if (!wide) return std::unexpected(wide.error());
    const FileHandle file(win::CreateFileW(
        wide->c_str(), 0, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE,
        nullptr, win::OPEN_EXISTING, win::FILE_FLAG_BACKUP_SEMANTICS));
    if (!file) {
        const win::DWORD error = win::GetLastError();
        // Held open by another program or not ours to open: it is there.
        if (error != win::ERROR_ACCESS_DENIED && error != win::ERROR_SHARING_VIOLATION)
            return missing_or_error(error);
        win::WIN32_FIND_DATAW data;
        const FindHandle search(win::FindFirstFileExW(wide->c_str(), win::FindExInfoBasic, &data,
                                                      win::FindExSearchNameMatch, 0));
        if (!search) return missing_or_error(win::GetLastError());
        return kind_of(data.dwFileAttributes);
    }
    win::BY_HANDLE_FILE_INFORMATION information;
    if (!win::GetFileInformationByHandle(file.get(), &information))
        return missing_or_error(win::GetLastError());
    return kind_of(information.dwFileAttributes);
}

}  // namespace installer_helper
