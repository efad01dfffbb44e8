#include "engine/begin.h"

#include "engine/directory_listing.h"
#include "engine/journal.h"
#include "engine/launcher_binaries.h"
#include "engine/owned_paths.h"
#include "engine/recovery_directory.h"
#include "engine/recovery_files.h"
#include "engine/recovery_journal.h"
#include "engine/rollback.h"
#include "windows/process/stop.h"
#include "windows/registry/registration.h"
#include "windows/reparse_points.h"

namespace installer_helper {
namespace {

constexpr std::string_view unknown_recovery_directory =
    "An unknown migration recovery directory already exists.";

// A missing recovery directory is created; an empty one left by an earlier
// run is used as it is; anything else is not ours to touch.
Result<> prepare_recovery_directory(const MigrationTarget& target) {
    const auto directory = owned_path(target, RECOVERY_DIRECTORY);
    if (!directory) return std::unexpected(directory.error());
    const auto kind = inspect_path(*directory);
    if (!kind) return std::unexpected(kind.error());
    switch (*kind) {
        case PathKind::Missing: return create_recovery_directory(*directory);
        case PathKind::Directory: {
            const auto entries = list_directory(*directory);
            if (!entries) return std::unexpected(entries.error());
            if (!entries->empty()) return fail(std::string(unknown_recovery_directory));
            return {};
        }
        case PathKind::RegularFile:
        case PathKind::ReparsePoint: break;
    }
    return fail(std::string(unknown_recovery_directory));
}

Result<> back_up_binaries(const MigrationTarget& target, const Journal& journal) {
    for (const std::string& name : journal.binaries) {
        const auto binary = owned_path(target, name);
        if (!binary) return std::unexpected(binary.error());
        const auto backup = recovery_file_path(target, name);
        if (!backup) return std::unexpected(backup.error());
        if (auto copied = copy_recovery_file(*binary, *backup); !copied) return copied;
    }
    return {};
}

}  // namespace

Result<> begin_migration(std::string_view directory, const InstallerContext& context) {
    const auto target = open_migration_target(directory, context);
    if (!target) return std::unexpected(target.error());
    auto found = read_recovery_state(*target);
    if (!found) return std::unexpected(found.error());
    if (auto stopped = stop_installed_processes(target->directory()); !stopped) return stopped;
    // An earlier transaction is finished or undone before a new one starts.
    if (*found) {
        auto settled = settle_journal(*target, std::move(**found), ProcessesStopped::Yes);
        if (!settled) return settled;
    }

    if (auto prepared = prepare_recovery_directory(*target); !prepared) return prepared;
    auto binaries = present_launcher_binaries(*target);
    if (!binaries) return std::unexpected(binaries.error());
    auto snapshots = capture_registration(context.scope, context.sid);
    if (!snapshots) return std::unexpected(snapshots.error());
    if (auto valid = validate_registration(*snapshots); !valid) return valid;

    Journal journal{.version = JOURNAL_VERSION,
                    .directory = target->directory(),
                    .stage = JournalStage::BackingUp,
                    .scope = context.scope,
                    .sid = context.sid,
                    .binaries = std::move(*binaries),
                    .registration = std::move(*snapshots)};
    // From the first journal on, the transaction exists on disk.
    if (auto written = write_journal(*target, journal); !written) return written;
    if (auto copied = back_up_binaries(*target, journal); !copied) return copied;
    journal.stage = JournalStage::Prepared;
    return write_journal(*target, journal);
}

}  // namespace installer_helper
