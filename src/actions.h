// The action table and the steps that every action's handler shares.
#pragma once

#include "command_line.h"
#include "installer_context.h"
#include "outcome.h"

#include <string>

namespace installer_helper {

// Checks the installer context path, then calls the selected action's handler.
Result<ActionOutcome> run_action(const InstallerArguments& arguments);

// What the handlers of begin, stop, rollback and commit work on: the context
// read from the output path and the installation directory resolved against it.
struct InstallationAction {
    InstallerContext context;
    std::string directory;  // normalised
};
Result<InstallationAction> prepare_installation_action(const InstallerArguments& arguments);

// The handlers, one per action; each lives with the code of its action.
Result<ActionOutcome> run_context(const InstallerArguments& arguments);
Result<ActionOutcome> run_begin(const InstallerArguments& arguments);
Result<ActionOutcome> run_stop(const InstallerArguments& arguments);
Result<ActionOutcome> run_rollback(const InstallerArguments& arguments);
Result<ActionOutcome> run_commit(const InstallerArguments& arguments);
Result<ActionOutcome> run_validate_launch(const InstallerArguments& arguments);
Result<ActionOutcome> run_prepare_verification(const InstallerArguments& arguments);

}  // namespace installer_helper
