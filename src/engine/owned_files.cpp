#include "engine/owned_files.h"

#include "platform/win_api.h"
#include "windows/handles.h"
#include "windows/installation_path.h"
#include "windows/reparse_points.h"
#include "windows/system_error.h"

namespace installer_helper {
namespace {

constexpr const char* not_a_regular_file =
    "Expected an owned regular file; existing data was retained.";

constexpr win::DWORD share_all =
    win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;

Result<> cannot_remove_file(win::DWORD error) {
    return fail(format_message("Cannot remove owned installer file: {}", system_error_text(error)));
}

// The second way, for a file DeleteFileW refused: through a handle that
// names the entry itself, a delete that ignores the read-only attribute and
// takes the name away at once, even while other handles stay open.
bool delete_through_handle(const std::u16string& path) {
    const FileHandle file(win::CreateFileW(path.c_str(), win::DELETE, share_all, nullptr,
                                           win::OPEN_EXISTING, win::FILE_FLAG_OPEN_REPARSE_POINT));
    if (!file) return false;
    win::FILE_DISPOSITION_INFO_EX disposition;
    disposition.Flags = win::FILE_DISPOSITION_FLAG_DELETE |
                        win::FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                        win::FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;
    return win::SetFileInformationByHandle(file.get(), win::FileDispositionInfoEx, &disposition,
                                           sizeof(disposition)) != win::FALSE;
}

}  // namespace

Result<> remove_owned_file(std::string_view path) {
    const auto wide = to_wide_nul(path);
    if (!wide) return std::unexpected(wide.error());

    const auto attributes = read_path_attributes(path);
    if (!attributes) return fail(attributes.error().text());
    // The caller saw a regular file; anything that took its place since
    // stays where it is.
    if ((*attributes & (win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return fail(not_a_regular_file);

    if ((*attributes & win::FILE_ATTRIBUTE_READONLY) != 0) {
        win::DWORD writable = *attributes & ~win::FILE_ATTRIBUTE_READONLY;
        if (writable == 0) writable = win::FILE_ATTRIBUTE_NORMAL;
        if (!win::SetFileAttributesW(wide->c_str(), writable))
            return fail(system_error_text(win::GetLastError()));
    }

    if (win::DeleteFileW(wide->c_str())) return {};
    const win::DWORD error = win::GetLastError();
    if (error == win::ERROR_ACCESS_DENIED && delete_through_handle(*wide)) return {};
    return cannot_remove_file(error);
}

Result<> remove_owned_file_if_present(std::string_view path) {
    if (auto checked = ensure_no_reparse_points(path); !checked) return checked;
    const auto kind = inspect_path(path);
    if (!kind) return std::unexpected(kind.error());
    switch (*kind) {
        case PathKind::Missing:
            return {};
        case PathKind::RegularFile:
            return remove_owned_file(path);
        case PathKind::Directory:
        case PathKind::ReparsePoint:
            break;
    }
    return fail(not_a_regular_file);
}

Result<> remove_empty_directory(std::string_view path) {
    const auto wide = to_wide_nul(path);
    if (!wide) return std::unexpected(wide.error());
    if (win::RemoveDirectoryW(wide->c_str())) return {};
    return fail(format_message("Cannot remove empty owned directory: {}",
                               system_error_text(win::GetLastError())));
}

}  // namespace installer_helper
