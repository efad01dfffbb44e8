// Whether setup must elevate for an installation directory, found out by
// trying it, and whether a directory holds anything.
#pragma once

#include "outcome.h"

#include <string_view>

namespace installer_helper {

// The first step that answers decides, in this order: elevation, machine
// scope, an access probe in the nearest existing directory, the VC runtime
// registration (unless skipped), and the installation's running processes.
Result<bool> installation_requires_elevation(std::string_view directory, bool machine_scope,
                                             bool skip_runtime_check);

// Whether the directory holds at least one entry besides "." and "..".
Result<bool> directory_has_entries(std::string_view directory);

}  // namespace installer_helper
