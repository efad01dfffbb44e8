#include "windows/file_system_log.h"

#include "message_format.h"
#include "platform/win_api.h"
#include "windows/handles.h"
#include "windows/installation_path.h"
#include "windows/system_error.h"

namespace installer_helper {

Result<> force_file_system_log(std::string_view directory) {
    constexpr std::string_view failed = "Cannot flush the installation directory";
    const auto wide = to_wide_nul(directory);
    if (!wide) return fail(format_message("{}: {}", failed, wide.error().message()));
    const FileHandle handle(win::CreateFileW(
        wide->c_str(), win::GENERIC_WRITE,
        win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE, nullptr,
        win::OPEN_EXISTING, win::FILE_FLAG_BACKUP_SEMANTICS | win::FILE_FLAG_OPEN_REPARSE_POINT));
    if (!handle) return std::unexpected(os_error_message(failed));
    if (!win::FlushFileBuffers(handle.get())) return std::unexpected(os_error_message(failed));
    return {};
}

}  // namespace installer_helper
