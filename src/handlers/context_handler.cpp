#include "context_capture.h"
#include "handlers/handlers.h"

namespace installer_helper {

Result<ActionOutcome> run_context(const InstallerArguments& arguments) {
    const CaptureRequest request{arguments.output, arguments.directory, arguments.original_sid,
                                 arguments.original_temp, arguments.uninstall};
    if (auto captured = capture_installer_context(request); !captured)
        return std::unexpected(captured.error());
    return Done{};
}

}  // namespace installer_helper
