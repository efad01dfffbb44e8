#include "action_steps.h"
#include "engine/rollback.h"
#include "handlers/handlers.h"
#include "windows/installation_probe.h"
#include "windows/user_environment.h"

namespace installer_helper {

// Nothing is restored unless this run may restore it: a journal that needs
// administrator permission to undo ends the run with status 740 first.
Result<ActionOutcome> run_rollback(const InstallerArguments& arguments) {
    const auto prepared = prepare_installation_action(arguments);
    if (!prepared) return std::unexpected(prepared.error());
    const InstallerContext& context = prepared->context;
    if (auto account = check_recovery_account(context.sid); !account)
        return std::unexpected(account.error());
    const auto pending = has_pending_recovery(prepared->directory, context);
    if (!pending) return std::unexpected(pending.error());
    if (!*pending) return Done{};

    const auto elevate = installation_requires_elevation(
        context.directory, context.scope == RegistryScope::Machine, true);
    if (!elevate) return std::unexpected(elevate.error());
    if (*elevate) return ElevationRequired{};
    if (auto rolled_back = rollback_migration(prepared->directory, context); !rolled_back)
        return std::unexpected(rolled_back.error());
    return Done{};
}

}  // namespace installer_helper
