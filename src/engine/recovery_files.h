// Moving bytes into and out of the recovery directory so that a crash at
// any instant leaves either the old file or the complete new one.
#pragma once

#include "outcome.h"

#include <string_view>

namespace installer_helper {

// Copies the bytes (nothing else: no attributes, times or security) into a
// destination that must not exist yet, and flushes it to disk. After a
// failure the partial destination stays for the next run to deal with.
Result<> copy_recovery_file(std::string_view source, std::string_view destination);

// Renames source over destination in one step that is on disk when it
// returns; an existing destination is replaced.
Result<> replace_recovery_file(std::string_view source, std::string_view destination);

}  // namespace installer_helper
