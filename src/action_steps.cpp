#include "action_steps.h"

namespace installer_helper {

Result<InstallationAction> prepare_installation_action(const InstallerArguments& arguments) {
    auto context = read_installer_context(arguments.output);
    if (!context) return std::unexpected(context.error());
    auto directory = resolve_action_directory(arguments.directory.value_or(""), *context);
    if (!directory) return std::unexpected(directory.error());
    return InstallationAction{std::move(*context), std::move(*directory)};
}

}  // namespace installer_helper
