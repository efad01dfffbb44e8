#include "handlers/handlers.h"
#include "installer_context.h"
#include "windows/verification_directory.h"

namespace installer_helper {

Result<ActionOutcome> run_prepare_verification(const InstallerArguments& arguments) {
    const auto context = read_installer_context(arguments.output);
    if (!context) return std::unexpected(context.error());
    // The command line guarantees -Nonce for this action; an absent one is
    // refused like any other invalid identifier.
    if (auto prepared = prepare_verification(*context, arguments.nonce.value_or(""));
        !prepared)
        return std::unexpected(prepared.error());
    return Done{};
}

}  // namespace installer_helper
