// Fresh random (version 4) UUIDs from the system's cryptographic generator.
#pragma once

#include "outcome.h"

#include <string>

namespace installer_helper {

// 32 lowercase hexadecimal digits, without hyphens or braces. A failing
// random source is an error: a name is never made up from anything else.
Result<std::string> random_uuid_simple();

}  // namespace installer_helper
