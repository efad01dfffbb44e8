#include "windows/handles.h"
#include "windows/process/launcher_processes.h"
#include "windows/process/stop.h"
#include "windows/system_error.h"

#include <algorithm>

namespace installer_helper {

Result<bool> stop_requires_elevation(std::string_view directory) {
    const auto processes = enumerate_launcher_processes();
    if (!processes) return std::unexpected(processes.error());
    // One that could not be inspected may be ours, and only an administrator could tell.
    if (std::any_of(processes->begin(), processes->end(),
                    [](const LauncherProcess& process) { return !process.image_path; }))
        return true;
    const auto ids = installed_process_ids(directory, *processes);
    if (!ids) return std::unexpected(ids.error());

    for (const std::uint32_t pid : *ids) {
        const KernelHandle process(win::OpenProcess(process_stop_access, win::FALSE, pid));
        if (process) continue;
        const win::DWORD error = win::GetLastError();
        if (error == win::ERROR_INVALID_PARAMETER) continue;  // gone meanwhile
        if (error == win::ERROR_ACCESS_DENIED) return true;
        return std::unexpected(os_error_message("Could not inspect service shutdown permissions"));
    }
    return false;
}

}  // namespace installer_helper
