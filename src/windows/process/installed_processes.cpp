#include "windows/installation_path.h"
#include "windows/reparse_points.h"
#include "windows/process/launcher_processes.h"

#include <array>

namespace installer_helper {
namespace {

// Where the installation's own launcher executables live.
constexpr std::array<std::string_view, 3> installed_executables = {
    "Quillmora Launcher.exe", "QuillmoraClientServices.exe",
    "resources\\QuillmoraClientServices.exe"};

}  // namespace

bool is_installed_executable(std::string_view directory, std::string_view image_path) {
    for (const std::string_view executable : installed_executables)
        if (same_installation_path(join_path(directory, executable), image_path)) return true;
    return false;
}

Result<std::vector<std::uint32_t>> installed_process_ids(std::string_view directory,
                                                         const std::vector<LauncherProcess>& list) {
    std::vector<std::uint32_t> ids;
    for (const LauncherProcess& process : list) {
        if (!process.image_path)
            return fail(
                "Setup cannot inspect a running launcher or Client Services process. Close it or "
                "run setup as administrator before retrying.");
        if (!is_installed_executable(directory, *process.image_path)) continue;
        if (auto checked = ensure_no_reparse_points(*process.image_path); !checked)
            return std::unexpected(checked.error());
        ids.push_back(process.pid);
    }
    return ids;
}

}  // namespace installer_helper
