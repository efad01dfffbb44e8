// Taking down the older installation's owned files and directory trees.
#pragma once

#include "engine/owned_paths.h"
#include "outcome.h"

namespace installer_helper {

// Deletes the owned files, then each owned directory tree, every directory
// after everything in it. A tree is walked and taken down in one pass, so
// only the directories above the entry at hand are held open, however
// large the tree. Entries already gone are skipped, so an interrupted
// cleanup can run again.
Result<> remove_owned_launcher_files(const MigrationTarget& target);

}  // namespace installer_helper
