// The recovery directory inside the installation: the only names it may
// hold, the paths of those names, and creating and taking it down.
#pragma once

#include "engine/owned_paths.h"
#include "outcome.h"

#include <array>
#include <string>
#include <string_view>

namespace installer_helper {

inline constexpr std::string_view RECOVERY_DIRECTORY = ".quillmora-migration";

// The journal, a journal being written, and a backup on its way back into
// the installation. Besides these, only the LAUNCHER_BINARIES names (the
// backup copies) may be in the recovery directory.
inline constexpr std::array<std::string_view, 3> RECOVERY_FILES{"journal.json", "journal.new",
                                                                "restore.new"};

// The full path of one of the allowed names (exact, case-sensitive) inside
// the recovery directory, with the checks of owned_path; the recovery
// directory stays pinned while the path is held, so it must exist.
Result<OwnedPath> recovery_file_path(const MigrationTarget& target, std::string_view name);

// Creates the directory itself with default security; its parent must exist
// and nothing may be at the path yet.
Result<> create_recovery_directory(std::string_view path);

// Checks every entry first and deletes nothing unless all are allowed
// regular files; then deletes the backups, the staging files and the
// journal, the journal always last, and the empty directory. A missing
// directory is success.
Result<> remove_recovery_directory(const MigrationTarget& target);

}  // namespace installer_helper
