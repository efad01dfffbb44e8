// Finding the launcher and Client Services processes, and deciding which of
// them belong to an installation directory.
#pragma once

#include "outcome.h"
#include "platform/win_api.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installer_helper {

struct LauncherProcess {
    std::optional<std::string> image_path;  // absent when it could not be read
    std::uint32_t pid = 0;
    bool is_launcher = false;  // else Client Services
    friend bool operator==(const LauncherProcess&, const LauncherProcess&) = default;
};

// Every running process with a launcher or Client Services name, launchers
// first, each group in snapshot order.
Result<std::vector<LauncherProcess>> enumerate_launcher_processes();

// The Win32 path of the process's executable.
Result<std::string> process_image_path(win::HANDLE process);

// Whether the image is one of the installation's launcher executables.
bool is_installed_executable(std::string_view directory, std::string_view image_path);

// The ids of the installation's processes, in list order. A process whose
// image could not be read ends the walk: it might be one of them.
Result<std::vector<std::uint32_t>> installed_process_ids(std::string_view directory,
                                                         const std::vector<LauncherProcess>& list);

// Rights that open a process to end it and to wait for its end.
inline constexpr win::DWORD process_stop_access =
    win::SYNCHRONIZE | win::PROCESS_QUERY_LIMITED_INFORMATION | win::PROCESS_TERMINATE;

}  // namespace installer_helper
