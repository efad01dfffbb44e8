#include "engine/commit.h"

#include "engine/owned_trees.h"
#include "engine/recovery_directory.h"
#include "engine/recovery_journal.h"
#include "windows/registry/registration.h"

namespace installer_helper {

Result<std::optional<std::string>> commit_migration(std::string_view directory,
                                                    const InstallerContext& context) {
    const auto target = open_migration_target(directory, context);
    if (!target) return std::unexpected(target.error());
    auto found = read_recovery_state(*target);
    if (!found) return std::unexpected(found.error());
    if (!*found) return fail("Missing migration recovery journal.");
    Journal& journal = **found;
    if (journal.stage != JournalStage::Prepared && journal.stage != JournalStage::Committed)
        return fail("The migration transaction is not prepared for commit.");

    // From here the migration cannot be undone: only the cleanup may follow.
    if (journal.stage == JournalStage::Prepared) {
        journal.stage = JournalStage::Committed;
        if (auto written = write_journal(*target, journal); !written)
            return std::unexpected(written.error());
    }
    if (auto cleaned = finish_commit(*target, journal); !cleaned)
        return std::optional<std::string>(cleaned.error().message());
    return std::optional<std::string>();
}

Result<> finish_commit(const MigrationTarget& target, const Journal& journal) {
    if (auto removed = remove_owned_launcher_files(target); !removed) return removed;
    if (auto removed = remove_legacy_registration(journal.scope, journal.sid, target.directory());
        !removed)
        return removed;
    return remove_recovery_directory(target);
}

}  // namespace installer_helper
