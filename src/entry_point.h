#pragma once

namespace installer_helper {

// One run: the process command line, the action, then the line on standard
// error. Returns the exit status.
int run_entry_point();

}  // namespace installer_helper
