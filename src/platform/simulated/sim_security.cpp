// The seam's security-descriptor functions, acting on the simulated machine.
#include "platform/simulated/machine.h"
#include "platform/simulated/security.h"
#include "platform/win_api.h"

namespace win {

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(const char16_t* string_descriptor,
                                                          DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          ULONG* size) {
    sim::Machine& machine = sim::current();
    if (descriptor != nullptr) *descriptor = nullptr;
    if (!machine.enter("ConvertStringSecurityDescriptorToSecurityDescriptorW", false)) return FALSE;
    if (string_descriptor == nullptr || descriptor == nullptr) {
        machine.set_last_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (revision != SDDL_REVISION_1) {
        machine.set_last_error(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    auto parsed = sim::parse_security_descriptor(string_descriptor);
    if (!parsed) {
        machine.set_last_error(parsed.error());
        return FALSE;
    }
    const auto length = static_cast<ULONG>(sim::self_relative_size(*parsed));
    *descriptor = machine.add_security_descriptor(std::move(*parsed));
    if (size != nullptr) *size = length;
    return TRUE;
}

}  // namespace win
