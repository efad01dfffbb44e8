// NTFS keeps its log of name changes (entries created, renamed, deleted) in
// memory until a call forces it to disk or it writes it out on its own; a
// power loss loses the unforced tail. A run that reports success after
// deleting names must force them first, or a power loss can bring back what
// it reported gone.
#pragma once

#include "outcome.h"

#include <string_view>

namespace installer_helper {

// Forces every change logged so far on the volume of `directory`, which
// must exist, by flushing the directory: NTFS writes its whole log out with
// it. A directory's flush needs write access to it.
Result<> force_file_system_log(std::string_view directory);

}  // namespace installer_helper
