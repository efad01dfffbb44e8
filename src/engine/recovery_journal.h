// Reading, checking and replacing the recovery journal in the recovery
// directory, so that a run cut off at any instant leaves a state the next
// run can read.
#pragma once

#include "engine/journal.h"
#include "engine/owned_paths.h"
#include "outcome.h"

#include <optional>
#include <string>
#include <string_view>

namespace installer_helper {

// The whole file, refused when it is longer than MAX_JOURNAL_BYTES.
Result<std::string> read_journal_bytes(std::string_view path);

// Whether the journal belongs to this installation and original user and
// names only what a transaction may hold. Applied on every read and before
// every write.
Result<> validate_journal(const MigrationTarget& target, const Journal& journal);

// What the recovery directory says, changing nothing on disk.
// nullopt: no transaction
Result<std::optional<Journal>> read_recovery_state(const MigrationTarget& target);

// Replaces "journal.json" with the journal: written in full to a new file,
// flushed, then renamed over the old one, so that the old or the new
// journal is always complete on disk.
Result<> write_journal(const MigrationTarget& target, const Journal& journal);

}  // namespace installer_helper
