#include "engine/recovery_file_io.h"

#include "windows/installation_path.h"

#include <algorithm>
#include <limits>

namespace installer_helper {
namespace {

constexpr win::DWORD share_all =
    win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;

// One call moves at most this much, whatever the caller asks for.
constexpr std::size_t largest_call = std::numeric_limits<win::DWORD>::max();

// Never through a reparse point at the name itself: a new file cannot be
// made behind one, and an existing one is opened as itself.
IoResult<FileHandle> open_file(std::string_view path, win::DWORD access, win::DWORD disposition) {
    const auto wide = to_wide_nul(path);
    if (!wide) return std::unexpected(IoError{std::nullopt, wide.error().message()});
    constexpr win::DWORD flags = win::FILE_ATTRIBUTE_NORMAL | win::FILE_FLAG_OPEN_REPARSE_POINT;
    FileHandle file(
        win::CreateFileW(wide->c_str(), access, share_all, nullptr, disposition, flags));
    if (!file) return std::unexpected(IoError::last_windows_error());
    return file;
}

}  // namespace

IoResult<FileHandle> open_for_reading(std::string_view path) {
    auto file = open_file(path, win::GENERIC_READ | win::FILE_READ_ATTRIBUTES, win::OPEN_EXISTING);
    if (!file) return file;
    // What is read must be the file itself, never a link's target.
    win::FILE_ATTRIBUTE_TAG_INFO tag;
    if (!win::GetFileInformationByHandleEx(file->get(), win::FileAttributeTagInfo, &tag,
                                           sizeof(tag)))
        return std::unexpected(IoError::last_windows_error());
    if ((tag.FileAttributes & win::FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return std::unexpected(IoError{win::ERROR_CANT_ACCESS_FILE, {}});
    return file;
}

IoResult<FileHandle> create_new_file(std::string_view path) {
    return open_file(path, win::GENERIC_WRITE, win::CREATE_NEW);
}

IoResult<std::size_t> read_some(const FileHandle& file, void* buffer, std::size_t size) {
    win::DWORD read = 0;
    if (!win::ReadFile(file.get(), buffer, static_cast<win::DWORD>(std::min(size, largest_call)),
                       &read))
        return std::unexpected(IoError::last_windows_error());
    return read;
}

IoResult<> write_all(const FileHandle& file, std::string_view bytes) {
    return write_all(file.get(), bytes);
}

IoResult<> flush_to_disk(const FileHandle& file) {
    if (!win::FlushFileBuffers(file.get())) return std::unexpected(IoError::last_windows_error());
    return {};
}

}  // namespace installer_helper
