// The Windows executable's entry point. The C runtime's argv is not used: the
// helper splits the raw process command line itself.
#include "entry_point.h"
#include "platform/real/process_hardening.h"

int main() {
    win::real::harden_process();
    return installer_helper::run_entry_point();
}
