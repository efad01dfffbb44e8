// ih-empty-advapi32.exe and ih-empty-msvcrt.exe: ih-empty with the other
// libraries the helper imports, ADVAPI32 and then the C runtime as well, so
// that start-up figures can tell what loading them costs from what the
// helper itself does before it fails.
#include <windows.h>

#include <cstdlib>

extern "C" void ih_empty_imports_main() {
    // Never true; the calls are there for their imports.
    if (GetTickCount() == 1) {
        IsValidSid(nullptr);
#ifdef IH_WITH_MSVCRT
        std::getenv("");
#endif
    }
    ExitProcess(0);
}
