#include "actions.h"

#include "handlers/handlers.h"
#include "windows/reparse_points.h"

namespace installer_helper {

Result<ActionOutcome> run_action(const InstallerArguments& arguments) {
    if (auto checked = ensure_no_reparse_points(arguments.output); !checked)
        return std::unexpected(checked.error());
    switch (arguments.action) {
        case Action::Context: return run_context(arguments);
        case Action::Begin: return run_begin(arguments);
        case Action::Stop: return run_stop(arguments);
        case Action::Rollback: return run_rollback(arguments);
        case Action::Commit: return run_commit(arguments);
        case Action::ValidateLaunch: return run_validate_launch(arguments);
        case Action::PrepareVerification: return run_prepare_verification(arguments);
    }
    return fail("A supported installer action is required.");
}

}  // namespace installer_helper
