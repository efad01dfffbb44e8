#include "action_steps.h"
#include "handlers/handlers.h"
#include "windows/process/stop.h"

namespace installer_helper {

Result<ActionOutcome> run_stop(const InstallerArguments& arguments) {
    const auto prepared = prepare_installation_action(arguments);
    if (!prepared) return std::unexpected(prepared.error());
    if (auto stopped = stop_installed_processes(prepared->directory); !stopped)
        return std::unexpected(stopped.error());
    return Done{};
}

}  // namespace installer_helper
