#include "windows/entry_handle.h"

#include "windows/installation_path.h"

namespace installer_helper {
namespace {

constexpr win::DWORD as_itself =
    win::FILE_FLAG_BACKUP_SEMANTICS | win::FILE_FLAG_OPEN_REPARSE_POINT;

IoResult<FileHandle> open_handle(std::string_view path, win::DWORD access, win::DWORD share,
                                 win::DWORD disposition) {
    const auto wide = to_wide_nul(path);
    if (!wide) return std::unexpected(IoError{std::nullopt, wide.error().message()});
    FileHandle handle(
        win::CreateFileW(wide->c_str(), access, share, nullptr, disposition, as_itself));
    if (!handle) return std::unexpected(IoError::last_windows_error());
    return handle;
}

IoResult<> checked(win::BOOL ok) {
    if (!ok) return std::unexpected(IoError::last_windows_error());
    return {};
}

}  // namespace

IoResult<EntryHandle> EntryHandle::opened(FileHandle handle) {
    win::FILE_ATTRIBUTE_TAG_INFO tag;
    if (!win::GetFileInformationByHandleEx(handle.get(), win::FileAttributeTagInfo, &tag,
                                           sizeof(tag)))
        return std::unexpected(IoError::last_windows_error());
    return EntryHandle(std::move(handle), tag.FileAttributes);
}

IoResult<EntryHandle> EntryHandle::open(std::string_view path, win::DWORD access,
                                        win::DWORD share) {
    auto handle = open_handle(path, access | win::FILE_READ_ATTRIBUTES, share, win::OPEN_EXISTING);
    if (!handle) return std::unexpected(handle.error());
    return opened(std::move(*handle));
}

IoResult<EntryHandle> EntryHandle::open_or_create(std::string_view path, win::DWORD access) {
    auto handle =
        open_handle(path, access | win::FILE_READ_ATTRIBUTES, share_all, win::OPEN_ALWAYS);
    if (!handle) return std::unexpected(handle.error());
    return opened(std::move(*handle));
}

PathKind EntryHandle::kind() const {
    if ((attributes_ & win::FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::ReparsePoint;
    if ((attributes_ & win::FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Directory;
    return PathKind::RegularFile;
}

IoResult<win::DWORD> EntryHandle::link_count() const {
    win::FILE_STANDARD_INFO standard;
    if (!win::GetFileInformationByHandleEx(get(), win::FileStandardInfo, &standard,
                                           sizeof(standard)))
        return std::unexpected(IoError::last_windows_error());
    return standard.NumberOfLinks;
}

IoResult<> EntryHandle::clear_read_only() {
    if ((attributes_ & win::FILE_ATTRIBUTE_READONLY) == 0) return {};
    win::FILE_BASIC_INFO basic;
    basic.FileAttributes = attributes_ & ~win::FILE_ATTRIBUTE_READONLY;
    // 0 would mean "leave the attributes as they are".
    if (basic.FileAttributes == 0) basic.FileAttributes = win::FILE_ATTRIBUTE_NORMAL;
    if (auto set = checked(win::SetFileInformationByHandle(get(), win::FileBasicInfo, &basic,
                                                           sizeof(basic)));
        !set)
        return set;
    attributes_ &= ~win::FILE_ATTRIBUTE_READONLY;
    return {};
}

IoResult<> EntryHandle::truncate() {
    win::FILE_END_OF_FILE_INFO end;
    return checked(
        win::SetFileInformationByHandle(get(), win::FileEndOfFileInfo, &end, sizeof(end)));
}

IoResult<> EntryHandle::mark_for_deletion() const {
    win::FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = 1;
    return checked(win::SetFileInformationByHandle(get(), win::FileDispositionInfo, &disposition,
                                                   sizeof(disposition)));
}

IoResult<> EntryHandle::mark_for_deletion_at_once() const {
    win::FILE_DISPOSITION_INFO_EX disposition;
    disposition.Flags = win::FILE_DISPOSITION_FLAG_DELETE |
                        win::FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                        win::FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;
    return checked(win::SetFileInformationByHandle(get(), win::FileDispositionInfoEx,
                                                   &disposition, sizeof(disposition)));
}

}  // namespace installer_helper
