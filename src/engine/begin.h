// Opening a migration transaction over an existing installation.
#pragma once

#include "installer_context.h"
#include "outcome.h"

#include <string_view>

namespace installer_helper {

// Settles an earlier transaction, stops the launcher, records the binaries
// and the registration in a new journal, backs the binaries up and marks the
// transaction prepared. Changes nothing of the installation itself.
Result<> begin_migration(std::string_view directory, const InstallerContext& context);

}  // namespace installer_helper
