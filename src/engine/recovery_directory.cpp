#include "engine/recovery_directory.h"

#include "engine/directory_listing.h"
#include "engine/owned_files.h"
#include "platform/win_api.h"
#include "text_encoding.h"
#include "windows/file_system_log.h"
#include "windows/installation_path.h"
#include "windows/reparse_points.h"
#include "windows/system_error.h"

#include <algorithm>

namespace installer_helper {
namespace {

constexpr const char* invalid_entry = "Invalid recovery directory entry.";

// The journal goes last: while it is there, an interrupted removal is
// repeated by the next run; once it is gone, nothing is left to undo.
constexpr std::array<std::string_view, 6> REMOVAL_ORDER{
    LAUNCHER_BINARIES[0], LAUNCHER_BINARIES[1], LAUNCHER_BINARIES[2],
    RECOVERY_FILES[2],    RECOVERY_FILES[1],    RECOVERY_FILES[0],
};

bool is_allowed_name(std::string_view name) {
    return std::ranges::find(LAUNCHER_BINARIES, name) != LAUNCHER_BINARIES.end() ||
           std::ranges::find(RECOVERY_FILES, name) != RECOVERY_FILES.end();
}

std::string_view file_name_of(std::string_view path) {
    return path.substr(path.find_last_of('\\') + 1);
}

// An entry may be deleted only if it is one of the allowed names, a regular
// file, and reached through no junction or symbolic link. The installation
// directory and all above it are the target's, checked and pinned.
Result<> check_entry(std::string_view entry, const MigrationTarget& target) {
    const std::string_view name = file_name_of(entry);
    if (!is_valid_unicode(name)) return fail(invalid_entry);
    if (!is_allowed_name(name))
        return fail("An unknown file exists in the migration recovery directory.");
    if (auto checked = ensure_no_reparse_points_below(entry, target.directory()); !checked)
        return checked;
    const auto kind = inspect_path(entry);
    if (!kind) return std::unexpected(kind.error());
    if (*kind != PathKind::RegularFile) return fail(invalid_entry);
    return {};
}

}  // namespace

Result<OwnedPath> recovery_file_path(const MigrationTarget& target, std::string_view name) {
    if (!is_allowed_name(name)) return fail("Invalid recovery file name.");
    std::string relative(RECOVERY_DIRECTORY);
    relative += '/';
    relative += name;
    auto path = owned_path(target, relative);
    // Taken away in the middle of the run: nothing may be made or read
    // where it was.
    if (path && !path->reachable())
        return fail(format_message("Cannot inspect installer path: {}",
                                   system_error_text(win::ERROR_PATH_NOT_FOUND)));
    return path;
}

Result<> create_recovery_directory(std::string_view path) {
    const auto wide = to_wide_nul(path);
    if (!wide)
        return fail(format_message("Cannot create recovery directory: {}", wide.error().message()));
    if (win::CreateDirectoryW(wide->c_str(), nullptr)) return {};
    return fail(format_message("Cannot create recovery directory: {}",
                               system_error_text(win::GetLastError())));
}

Result<> remove_recovery_directory(const MigrationTarget& target) {
    const auto directory = owned_path(target, RECOVERY_DIRECTORY);
    if (!directory) return std::unexpected(directory.error());
    const auto kind = inspect_path(*directory);
    if (!kind) return std::unexpected(kind.error());
    if (*kind == PathKind::Missing) return {};

    const auto entries = list_directory(*directory);
    if (!entries) return std::unexpected(entries.error());
    for (const std::string& entry : *entries) {
        if (auto checked = check_entry(entry, target); !checked) return checked;
    }

    for (const std::string_view name : REMOVAL_ORDER) {
        if (name == RECOVERY_FILES[0]) {
            // The journal goes only once it is alone: while anything else
            // is left, the journal is what lets the next run finish.
            const auto left = list_directory(*directory);
            if (!left) return std::unexpected(left.error());
            for (const std::string& entry : *left)
                if (file_name_of(entry) != RECOVERY_FILES[0]) return fail(invalid_entry);
        }
        const auto path = recovery_file_path(target, name);
        if (!path) return std::unexpected(path.error());
        if (auto removed = remove_owned_file_if_present(*path); !removed) return removed;
    }
    if (auto removed = remove_empty_directory(*directory); !removed) return removed;
    // The run is about to report the transaction finished: a power loss
    // must not bring back a journal whose next run would redo its cleanup
    // over what setup has since put in place.
    return force_file_system_log(target.directory());
}

}  // namespace installer_helper
