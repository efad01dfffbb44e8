// Ending the installation's running launcher and Client Services processes.
#pragma once

#include "outcome.h"

#include <string_view>

namespace installer_helper {

// Whether ending the installation's processes needs administrator rights:
// one of them, or a process that might be one, may not be opened to end it.
Result<bool> stop_requires_elevation(std::string_view directory);

// Ends every process of the installation, launchers first, and checks
// afterwards that none runs again.
Result<> stop_installed_processes(std::string_view directory);

}  // namespace installer_helper
