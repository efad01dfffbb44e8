#include "action_steps.h"
#include "handlers/handlers.h"

namespace installer_helper {

// The migration transaction is not part of this build yet: the common steps
// run, then the action is refused rather than reported done.
Result<ActionOutcome> run_begin(const InstallerArguments& arguments) {
    auto prepared = prepare_installation_action(arguments);
    if (!prepared) return std::unexpected(prepared.error());
    return fail("The begin action is not available in this build.");
}

}  // namespace installer_helper
