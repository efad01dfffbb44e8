// Undoing a migration that was not committed, and settling whatever journal
// an earlier run left behind.
#pragma once

#include "engine/journal.h"
#include "engine/owned_paths.h"
#include "installer_context.h"
#include "outcome.h"

#include <string_view>

namespace installer_helper {

enum class ProcessesStopped { No, Yes };

// Whether a recovery journal exists for the installation. Changes nothing.
Result<bool> has_pending_recovery(std::string_view directory, const InstallerContext& context);

Result<> rollback_migration(std::string_view directory, const InstallerContext& context);

// Ends the journal's transaction by its stage: restores a prepared one,
// finishes the cleanup of a committed one, and otherwise only removes the
// recovery directory. The recovery directory is gone when this succeeds.
Result<> settle_journal(const MigrationTarget& target, Journal journal, ProcessesStopped stopped);

// Puts the binaries and the registration back as they were at begin.
Result<> restore_from_journal(const MigrationTarget& target, Journal journal,
                              ProcessesStopped stopped);

}  // namespace installer_helper
