#include "action_steps.h"
#include "engine/commit.h"
#include "handlers/handlers.h"

namespace installer_helper {

// A commit whose cleanup stopped is still a commit: status 2 with the
// cleanup's message, and a later run finishes it.
Result<ActionOutcome> run_commit(const InstallerArguments& arguments) {
    const auto prepared = prepare_installation_action(arguments);
    if (!prepared) return std::unexpected(prepared.error());
    const auto committed = commit_migration(prepared->directory, prepared->context);
    if (!committed) return std::unexpected(committed.error());
    if (*committed) return DoneWithMessage{**committed};
    return Done{};
}

}  // namespace installer_helper
