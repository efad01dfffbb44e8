#include "handlers/handlers.h"

namespace installer_helper {

// The capture of the installer context comes with the registry layer and the
// directory probe; until then this build refuses the action.
Result<ActionOutcome> run_context(const InstallerArguments&) {
    return fail("The context action is not available in this build.");
}

}  // namespace installer_helper
