// The seam's security-descriptor functions, acting on the simulated machine.
#include "platform/simulated/machine.h"
#include "platform/simulated/security.h"
#include "platform/simulated/sim_handles.h"
#include "platform/win_api.h"

#include "text_encoding.h"

#include <cstring>

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

// Only the owner of a file or directory is modelled. The descriptor is the
// owner SID's bytes, in LocalAlloc memory.
DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE object_type, DWORD security_information,
                      PSID* owner, PSECURITY_DESCRIPTOR* descriptor) {
    sim::Machine& machine = sim::current();
    if (owner != nullptr) *owner = nullptr;
    if (descriptor != nullptr) *descriptor = nullptr;
    if (!machine.enter("GetSecurityInfo", false)) return machine.last_error;
    if (object_type != SE_FILE_OBJECT || security_information != OWNER_SECURITY_INFORMATION ||
        owner == nullptr || descriptor == nullptr)
        return ERROR_INVALID_PARAMETER;
    auto* file = machine.handle<sim::FileObject>(handle);
    if (file == nullptr) return ERROR_INVALID_HANDLE;
    // Reading the owner needs READ_CONTROL, which GENERIC_READ includes.
    if ((file->access & (GENERIC_READ | READ_CONTROL)) == 0) return ERROR_ACCESS_DENIED;
    const auto sid = sim::parse_sid_text(installer_helper::utf16_from_wtf8(file->node->owner_sid));
    if (!sid) return ERROR_INVALID_SID;
    const std::vector<std::uint8_t> bytes = sim::sid_bytes(*sid);
    void* memory = machine.local_alloc(bytes.size());
    std::memcpy(memory, bytes.data(), bytes.size());
    *descriptor = memory;
    *owner = memory;
    return ERROR_SUCCESS;
}

}  // namespace win
