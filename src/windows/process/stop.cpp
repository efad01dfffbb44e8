#include "windows/process/stop.h"

#include "windows/handles.h"
#include "windows/process/launcher_processes.h"
#include "windows/system_error.h"

namespace installer_helper {
namespace {

constexpr win::DWORD exit_wait_milliseconds = 10000;
constexpr win::UINT terminated_exit_code = 1;

constexpr std::string_view stop_failure = "Could not stop the installed launcher or Client Services";

Result<std::vector<std::uint32_t>> running_installed_processes(std::string_view directory) {
    const auto processes = enumerate_launcher_processes();
    if (!processes) return std::unexpected(processes.error());
    return installed_process_ids(directory, *processes);
}

bool has_ended(win::HANDLE process) {
    return win::WaitForSingleObject(process, 0) == win::WAIT_OBJECT_0;
}

// The id was seen in a snapshot, so it may name another program by now: the
// image is read again through the handle that ends it.
Result<> stop_process(std::string_view directory, std::uint32_t pid) {
    const KernelHandle process(win::OpenProcess(process_stop_access, win::FALSE, pid));
    if (!process) {
        if (win::GetLastError() == win::ERROR_INVALID_PARAMETER) return {};  // gone
        return std::unexpected(os_error_message(stop_failure));
    }
    if (has_ended(process.get())) return {};
    const auto image = process_image_path(process.get());
    if (!image) return std::unexpected(image.error());
    if (!is_installed_executable(directory, *image)) return {};

    if (!win::TerminateProcess(process.get(), terminated_exit_code)) {
        // Taken before the wait below, which may change the last error.
        const win::DWORD error = win::GetLastError();
        if (!has_ended(process.get())) return std::unexpected(os_error_message(stop_failure, error));
    }
    const win::DWORD waited = win::WaitForSingleObject(process.get(), exit_wait_milliseconds);
    if (waited == win::WAIT_OBJECT_0) return {};
    if (waited == win::WAIT_TIMEOUT) return fail("An installed process did not exit before setup.");
    return std::unexpected(os_error_message("Could not verify installed process shutdown"));
}

}  // namespace

Result<> stop_installed_processes(std::string_view directory) {
    const auto ids = running_installed_processes(directory);
    if (!ids) return std::unexpected(ids.error());
    for (const std::uint32_t pid : *ids)
        if (auto stopped = stop_process(directory, pid); !stopped) return stopped;

    // Something may have started one again while the others were ended.
    const auto remaining = running_installed_processes(directory);
    if (!remaining) return std::unexpected(remaining.error());
    if (!remaining->empty())
        return fail("An installed process restarted while setup was preparing the update.");
    return {};
}

}  // namespace installer_helper
