// What the executable does before anything else: narrow where libraries are
// loaded from, and turn on the mitigations this Windows offers.
#pragma once

namespace win::real {

// No later load, by the helper or by any library, searches the executable's
// folder, the current directory or PATH: only System32. Then, where Windows
// offers it (Windows 10 22H2 and later), the process follows no junction
// that a non-administrator made. Windows that refuse a mitigation run
// without it.
void harden_process();

}  // namespace win::real
