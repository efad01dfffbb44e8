#include "actions.h"

namespace installer_helper {

// Not part of this build yet: the common steps run, then the action is refused.
Result<ActionOutcome> run_stop(const InstallerArguments& arguments) {
    auto prepared = prepare_installation_action(arguments);
    if (!prepared) return std::unexpected(prepared.error());
    return fail("The stop action is not available in this build.");
}

}  // namespace installer_helper
