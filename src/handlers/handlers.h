// The handlers, one per action: thin functions that run the common steps and
// then the work of their action in the layers below.
#pragma once

#include "command_line.h"
#include "outcome.h"

namespace installer_helper {

Result<ActionOutcome> run_context(const InstallerArguments& arguments);
Result<ActionOutcome> run_begin(const InstallerArguments& arguments);
Result<ActionOutcome> run_stop(const InstallerArguments& arguments);
Result<ActionOutcome> run_rollback(const InstallerArguments& arguments);
Result<ActionOutcome> run_commit(const InstallerArguments& arguments);
Result<ActionOutcome> run_validate_launch(const InstallerArguments& arguments);
Result<ActionOutcome> run_prepare_verification(const InstallerArguments& arguments);

}  // namespace installer_helper
