#include "handlers/handlers.h"
#include "installer_context.h"
#include "windows/user_environment.h"

namespace installer_helper {

Result<ActionOutcome> run_validate_launch(const InstallerArguments& arguments) {
    const auto context = read_installer_context(arguments.output);
    if (!context) return std::unexpected(context.error());
    if (auto valid = validate_launch(*context); !valid) return std::unexpected(valid.error());
    return Done{};
}

}  // namespace installer_helper
