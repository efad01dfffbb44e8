// Making a prepared migration final, and the cleanup that follows it.
#pragma once

#include "engine/journal.h"
#include "engine/owned_paths.h"
#include "installer_context.h"
#include "outcome.h"

#include <optional>
#include <string>
#include <string_view>

namespace installer_helper {

// Commits the transaction and cleans up after it. Nothing: committed and
// clean. A message: committed, but the cleanup stopped with this error and
// a later run finishes it. An error: nothing was committed.
Result<std::optional<std::string>> commit_migration(std::string_view directory,
                                                    const InstallerContext& context);

// The cleanup of a committed transaction: the older installation's owned
// files, its registration when it names this directory, and last the
// recovery directory. Safe to run again after any interruption.
Result<> finish_commit(const MigrationTarget& target, const Journal& journal);

}  // namespace installer_helper
