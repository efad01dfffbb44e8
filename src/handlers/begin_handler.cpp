#include "action_steps.h"
#include "engine/begin.h"
#include "handlers/handlers.h"

namespace installer_helper {

Result<ActionOutcome> run_begin(const InstallerArguments& arguments) {
    const auto prepared = prepare_installation_action(arguments);
    if (!prepared) return std::unexpected(prepared.error());
    if (auto begun = begin_migration(prepared->directory, prepared->context); !begun)
        return std::unexpected(begun.error());
    return Done{};
}

}  // namespace installer_helper
