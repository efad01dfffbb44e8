#include "windows/process/launcher_processes.h"

#include "ascii_case.h"
#include "text_encoding.h"
#include "windows/handles.h"
#include "windows/system_error.h"

#include <algorithm>

namespace installer_helper {
namespace {

constexpr std::string_view launcher_name = "Quillmora Launcher.exe";
constexpr std::string_view client_services_name = "QuillmoraClientServices.exe";

constexpr win::DWORD observe_access =
    win::SYNCHRONIZE | win::PROCESS_QUERY_LIMITED_INFORMATION;
constexpr win::DWORD image_path_buffer_units = 32768;

std::string exe_name_of(const win::PROCESSENTRY32W& entry) {
    const char16_t* name = entry.szExeFile;
    const auto end = std::find(name, name + win::MAX_PATH, u'\0');
    return utf8_from_utf16_lossy(std::u16string_view(name, end - name));
}

// What the snapshot entry tells, if it is a candidate still running. The
// image path is read now; a process that could not be read is kept without
// one, since it may belong to the installation.
std::optional<LauncherProcess> examine(const win::PROCESSENTRY32W& entry) {
    const std::string name = exe_name_of(entry);
    const bool is_launcher = equal_ignoring_ascii_case(name, launcher_name);
    if (!is_launcher && !equal_ignoring_ascii_case(name, client_services_name)) return std::nullopt;

    LauncherProcess found{std::nullopt, entry.th32ProcessID, is_launcher};
    const KernelHandle process(win::OpenProcess(observe_access, win::FALSE, entry.th32ProcessID));
    if (!process) {
        if (win::GetLastError() == win::ERROR_INVALID_PARAMETER) return std::nullopt;  // gone
        return found;
    }
    if (win::WaitForSingleObject(process.get(), 0) == win::WAIT_OBJECT_0) return std::nullopt;
    if (auto image = process_image_path(process.get())) found.image_path = std::move(*image);
    return found;
}

}  // namespace

Result<std::vector<LauncherProcess>> enumerate_launcher_processes() {
    const SnapshotHandle snapshot(win::CreateToolhelp32Snapshot(win::TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return std::unexpected(os_error_message("Could not enumerate launcher processes"));

    std::vector<LauncherProcess> found;
    win::PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (win::BOOL more = win::Process32FirstW(snapshot.get(), &entry); more;
         more = win::Process32NextW(snapshot.get(), &entry)) {
        if (auto process = examine(entry)) found.push_back(std::move(*process));
    }
    if (win::GetLastError() != win::ERROR_NO_MORE_FILES)
        return std::unexpected(os_error_message("Could not finish enumerating launcher processes"));

    // Launchers are ended before the companion they may restart.
    std::stable_partition(found.begin(), found.end(),
                          [](const LauncherProcess& process) { return process.is_launcher; });
    return found;
}

Result<std::string> process_image_path(win::HANDLE process) {
    std::u16string buffer(image_path_buffer_units, u'\0');
    win::DWORD size = image_path_buffer_units;
    if (!win::QueryFullProcessImageNameW(process, 0, buffer.data(), &size))
        return std::unexpected(
            os_error_message("Could not inspect a launcher or Client Services process"));
    buffer.resize(std::min<std::size_t>(size, buffer.size()));
    return wtf8_from_utf16(buffer);
}

}  // namespace installer_helper
