#include "windows/file_io.h"

#include "windows/handles.h"
#include "windows/installation_path.h"
#include "windows/system_error.h"

#include <algorithm>
#include <limits>

namespace installer_helper {
namespace {

constexpr win::DWORD share_all =
    win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;

IoResult<std::u16string> wide_path(std::string_view path) {
    auto wide = to_wide_nul(path);
    if (!wide) return std::unexpected(IoError{std::nullopt, wide.error().message()});
    return std::move(*wide);
}

}  // namespace

std::string IoError::text() const {
    return code ? system_error_text(*code) : description;
}

IoError IoError::last_windows_error() { return IoError{win::GetLastError(), {}}; }

IoResult<std::uint64_t> file_size(std::string_view path) {
    const auto wide = wide_path(path);
    if (!wide) return std::unexpected(wide.error());
    const FileHandle file(win::CreateFileW(wide->c_str(), 0, share_all, nullptr, win::OPEN_EXISTING,
                                           win::FILE_FLAG_BACKUP_SEMANTICS));
    if (!file) return std::unexpected(IoError::last_windows_error());
    win::BY_HANDLE_FILE_INFORMATION information;
    if (!win::GetFileInformationByHandle(file.get(), &information))
        return std::unexpected(IoError::last_windows_error());
    return (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
}

IoResult<std::string> read_file_prefix(std::string_view path, std::size_t limit) {
    const auto wide = wide_path(path);
    if (!wide) return std::unexpected(wide.error());
    const FileHandle file(win::CreateFileW(wide->c_str(), win::GENERIC_READ, share_all, nullptr,
                                           win::OPEN_EXISTING, 0));
    if (!file) return std::unexpected(IoError::last_windows_error());
    std::string bytes(limit, '\0');
    std::size_t filled = 0;
    while (filled < limit) {
        win::DWORD read = 0;
        if (!win::ReadFile(file.get(), bytes.data() + filled, static_cast<win::DWORD>(limit - filled),
                           &read))
            return std::unexpected(IoError::last_windows_error());
        if (read == 0) break;
        filled += read;
    }
    bytes.resize(filled);
    return bytes;
}

IoResult<> write_all(win::HANDLE file, std::string_view bytes) {
    // One call moves at most this much, whatever the caller asks for.
    constexpr std::size_t largest_call = std::numeric_limits<win::DWORD>::max();
    while (!bytes.empty()) {
        win::DWORD written = 0;
        const auto size = static_cast<win::DWORD>(std::min(bytes.size(), largest_call));
        if (!win::WriteFile(file, bytes.data(), size, &written))
            return std::unexpected(IoError::last_windows_error());
        if (written == 0)
            return std::unexpected(IoError{std::nullopt, "failed to write whole buffer"});
        bytes.remove_prefix(written);
    }
    return {};
}

IoResult<> write_whole_file(std::string_view path, std::string_view bytes) {
    const auto wide = wide_path(path);
    if (!wide) return std::unexpected(wide.error());
    const FileHandle file(win::CreateFileW(wide->c_str(), win::GENERIC_WRITE, share_all, nullptr,
                                           win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_NORMAL));
    if (!file) return std::unexpected(IoError::last_windows_error());
    return write_all(file.get(), bytes);
}

}  // namespace installer_helper
