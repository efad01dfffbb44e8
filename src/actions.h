// The action table: the top of the program below the entry point.
#pragma once

#include "command_line.h"
#include "outcome.h"

namespace installer_helper {

// Checks the installer context path, then calls the selected action's handler.
Result<ActionOutcome> run_action(const InstallerArguments& arguments);

}  // namespace installer_helper
