// Which launcher binaries an installation holds.
#pragma once

#include "engine/owned_paths.h"
#include "outcome.h"

#include <string>
#include <vector>

namespace installer_helper {

// The names of LAUNCHER_BINARIES present as regular files, in table order.
// A directory or link under one of the names stops the action: it is not
// the launcher's to back up, replace or delete.
Result<std::vector<std::string>> present_launcher_binaries(const MigrationTarget& target);

}  // namespace installer_helper
