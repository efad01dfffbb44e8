#include "handlers/handlers.h"
#include "installer_context.h"

namespace installer_helper {

// Not part of this build yet: the context is read, then the action is refused.
Result<ActionOutcome> run_prepare_verification(const InstallerArguments& arguments) {
    auto context = read_installer_context(arguments.output);
    if (!context) return std::unexpected(context.error());
    return fail("The prepare-verification action is not available in this build.");
}

}  // namespace installer_helper
