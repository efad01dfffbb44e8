#include "engine/rollback.h"

#include "engine/commit.h"
#include "engine/launcher_binaries.h"
#include "engine/owned_files.h"
#include "engine/recovery_directory.h"
#include "engine/recovery_files.h"
#include "engine/recovery_journal.h"
#include "message_format.h"
#include "windows/process/stop.h"
#include "windows/registry/registration.h"
#include "windows/reparse_points.h"

#include <algorithm>

namespace installer_helper {
namespace {

constexpr std::string_view staged_restore = "restore.new";

bool listed(const Journal& journal, std::string_view name) {
    return std::find(journal.binaries.begin(), journal.binaries.end(), name) !=
           journal.binaries.end();
}

// Everything that can be checked before the restore changes anything.
Result<> check_restore_possible(const MigrationTarget& target, const Journal& journal) {
    for (const std::string& name : journal.binaries) {
        const auto backup = recovery_file_path(target, name);
        if (!backup) return std::unexpected(backup.error());
        const auto kind = inspect_path(*backup);
        if (!kind) return std::unexpected(kind.error());
        if (*kind != PathKind::RegularFile)
            return fail(format_message("Missing recovery file: {}", name));
    }
    const auto present = present_launcher_binaries(target);
    if (!present) return std::unexpected(present.error());
    return {};
}

// The backup is copied to "restore.new" first and that copy moved over the
// binary, so the binary is always either the old file or the whole backup,
// and the backup itself is never consumed.
Result<> restore_binary(const MigrationTarget& target, std::string_view name) {
    const auto staged = recovery_file_path(target, staged_restore);
    if (!staged) return std::unexpected(staged.error());
    if (auto removed = remove_owned_file_if_present(*staged); !removed) return removed;
    const auto backup = recovery_file_path(target, name);
    if (!backup) return std::unexpected(backup.error());
    if (auto copied = copy_recovery_file(*backup, *staged); !copied) return copied;
    const auto binary = owned_path(target, name);
    if (!binary) return std::unexpected(binary.error());
    return replace_recovery_file(*staged, *binary);
}

}  // namespace

Result<bool> has_pending_recovery(std::string_view directory, const InstallerContext& context) {
    const auto target = open_migration_target(directory, context);
    if (!target) return std::unexpected(target.error());
    const auto found = read_recovery_state(*target);
    if (!found) return std::unexpected(found.error());
    return found->has_value();
}

Result<> rollback_migration(std::string_view directory, const InstallerContext& context) {
    const auto target = open_migration_target(directory, context);
    if (!target) return std::unexpected(target.error());
    auto found = read_recovery_state(*target);
    if (!found) return std::unexpected(found.error());
    if (!*found) return {};
    // A committed migration is final: its cleanup is finished, but setup
    // must not take that for the old launcher being back.
    const bool committed = (*found)->stage == JournalStage::Committed;
    if (auto settled = settle_journal(*target, std::move(**found), ProcessesStopped::No); !settled)
        return settled;
    if (committed) return fail("The migration was already committed and cannot be rolled back.");
    return {};
}

Result<> settle_journal(const MigrationTarget& target, Journal journal, ProcessesStopped stopped) {
    switch (journal.stage) {
        case JournalStage::Prepared: return restore_from_journal(target, std::move(journal), stopped);
        case JournalStage::Committed: return finish_commit(target, journal);
        case JournalStage::BackingUp:  // nothing in the installation changed yet
        case JournalStage::RolledBack:  // the restore is complete
            return remove_recovery_directory(target);
    }
    return remove_recovery_directory(target);
}

Result<> restore_from_journal(const MigrationTarget& target, Journal journal,
                              ProcessesStopped stopped) {
    if (auto possible = check_restore_possible(target, journal); !possible) return possible;
    if (stopped == ProcessesStopped::No)
        if (auto ended = stop_installed_processes(target.directory()); !ended) return ended;

    for (const std::string_view name : LAUNCHER_BINARIES) {
        if (listed(journal, name)) {
            if (auto restored = restore_binary(target, name); !restored) return restored;
        } else {
            const auto binary = owned_path(target, name);
            if (!binary) return std::unexpected(binary.error());
            if (auto removed = remove_owned_file_if_present(*binary); !removed) return removed;
        }
    }
    if (auto restored = restore_registration(journal.scope, journal.sid, journal.registration);
        !restored)
        return restored;

    journal.stage = JournalStage::RolledBack;
    if (auto written = write_journal(target, journal); !written) return written;
    return remove_recovery_directory(target);
}

}  // namespace installer_helper
