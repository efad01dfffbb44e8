// ih-empty-advapi32.exe: ih-empty with an import from ADVAPI32 as well, the
// one system library besides KERNEL32 that the helper loads at start, so
// that start-up figures can tell what loading it costs from what the helper
// itself does before it fails.
#include <windows.h>

extern "C" void ih_empty_advapi32_main() {
    // Never true; the call is there for its import.
    if (GetTickCount() == 1) IsValidSid(nullptr);
    ExitProcess(0);
}
