// What the migration owns inside the installation directory, and the one way
// a relative name becomes a path there.
#pragma once

#include "installer_context.h"
#include "outcome.h"
#include "windows/pinned_directory.h"

#include <array>
#include <string>
#include <string_view>
#include <utility>

namespace installer_helper {

class MigrationTarget;
Result<MigrationTarget> open_migration_target(std::string_view directory,
                                              const InstallerContext& context);

// The installation a migration action works on, for one action. Only
// open_migration_target makes one, so its directory has passed the checks;
// it and every directory above it stay pinned for as long as the target
// lives, so no path below it can be redirected.
class MigrationTarget {
public:
    const std::string& directory() const { return directory_; }  // normalised
    const InstallerContext& context() const { return context_; }

private:
    MigrationTarget(std::string directory, InstallerContext context, PinnedPath pins)
        : directory_(std::move(directory)), context_(std::move(context)), pins_(std::move(pins)) {}
    friend Result<MigrationTarget> open_migration_target(std::string_view directory,
                                                         const InstallerContext& context);

    std::string directory_;
    InstallerContext context_;
    PinnedPath pins_;
};

// A path inside the installation directory, with the directories between
// the two pinned for as long as it lives: act on the entry while holding it.
class OwnedPath {
public:
    const std::string& path() const { return path_; }
    operator std::string_view() const { return path_; }
    // False when a directory on the way was missing as the path was made:
    // then nothing was at the path, and nothing may be made there, since
    // that directory could appear as anything afterwards.
    bool reachable() const { return parents_.complete(); }
    friend bool operator==(const OwnedPath& owned, std::string_view path) {
        return owned.path_ == path;
    }

private:
    OwnedPath(std::string path, PinnedPath parents)
        : path_(std::move(path)), parents_(std::move(parents)) {}
    friend Result<OwnedPath> owned_path(const MigrationTarget& target, std::string_view relative);

    std::string path_;
    PinnedPath parents_;
};

// Relative names use "/" between components.

// The launcher binaries at the top of the installation: backed up by begin,
// put back by a restore, and the only backup names in the recovery directory.
inline constexpr std::array<std::string_view, 3> LAUNCHER_BINARIES{
    "Quillmora Launcher.exe",
    "QuillmoraClientServices.exe",
    "uninstall.exe",
};

// The Electron runtime files of the older installation: deleted by commit's
// cleanup, never backed up.
inline constexpr std::array<std::string_view, 24> OWNED_FILES{
    "chrome_100_percent.pak",
    "chrome_200_percent.pak",
    "d3dcompiler_47.dll",
    "dxcompiler.dll",
    "dxil.dll",
    "ffmpeg.dll",
    "icudtl.dat",
    "libEGL.dll",
    "libGLESv2.dll",
    "resources.pak",
    "snapshot_blob.bin",
    "v8_context_snapshot.bin",
    "vk_swiftshader.dll",
    "vk_swiftshader_icd.json",
    "vulkan-1.dll",
    "LICENSE.electron.txt",
    "LICENSES.chromium.html",
    "resources/app.asar",
    "resources/app-update.yml",
    "resources/elevate.exe",
    "resources/QuillmoraClientServices.exe",
    "resources/app-icon.ico",
    "Uninstall Quillmora Launcher.exe",
    "uninstallerIcon.ico",
};

// Whole trees of the older installation, deleted by commit's cleanup.
inline constexpr std::array<std::string_view, 3> OWNED_DIRECTORIES{
    "locales",
    "resources/app.asar.unpacked",
    "resources/native",
};

// The path of a relative name inside the target's installation directory.
// Refuses a name that could leave the directory or name the directory
// itself, and a path that is or runs through a junction or symbolic link.
Result<OwnedPath> owned_path(const MigrationTarget& target, std::string_view relative);

}  // namespace installer_helper
