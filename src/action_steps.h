// The steps that every action's handler shares: reading the installer
// context and resolving -Directory against it.
#pragma once

#include "command_line.h"
#include "installer_context.h"
#include "outcome.h"

#include <string>

namespace installer_helper {

// What the handlers of begin, stop, rollback and commit work on: the context
// read from the output path and the installation directory resolved against it.
struct InstallationAction {
    InstallerContext context;
    std::string directory;  // normalised
};
Result<InstallationAction> prepare_installation_action(const InstallerArguments& arguments);

}  // namespace installer_helper
