// ih-empty.exe: a console program that does nothing and imports KERNEL32
// alone, with no C runtime: the baseline for what a start costs (see
// ih-startup).
#include <windows.h>

extern "C" void ih_empty_main() { ExitProcess(0); }
