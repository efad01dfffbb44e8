#include "platform/real/process_hardening.h"

#include <windows.h>

namespace win::real {
namespace {

// The documented values: older SDK headers lack the policy or its structure.
constexpr int process_redirection_trust_policy = 16;  // ProcessRedirectionTrustPolicy
constexpr DWORD enforce_redirection_trust = 0x1;      // EnforceRedirectionTrust, bit 0

// PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY: one DWORD of flags.
struct RedirectionTrustPolicy {
    DWORD flags = 0;
};

}  // namespace

void harden_process() {
    // From Windows 8 on, so it cannot fail on the systems the manifest names.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    RedirectionTrustPolicy policy{enforce_redirection_trust};
    ::SetProcessMitigationPolicy(static_cast<PROCESS_MITIGATION_POLICY>(
                                     process_redirection_trust_policy),
                                 &policy, sizeof policy);
}

}  // namespace win::real
