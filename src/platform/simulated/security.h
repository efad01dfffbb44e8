// Security descriptors of the simulated machine: what Windows builds from
// SDDL text, kept in parsed form so that tests can check the exact entries a
// file or directory was created with.
#pragma once

#include "platform/simulated/accounts.h"
#include "platform/win_api.h"

#include <cstdint>
#include <expected>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

namespace sim {

// ACE types and flags, with Windows' values.
inline constexpr std::uint8_t ACCESS_ALLOWED_ACE_TYPE = 0x0;
inline constexpr std::uint8_t ACCESS_DENIED_ACE_TYPE = 0x1;
inline constexpr std::uint8_t SYSTEM_AUDIT_ACE_TYPE = 0x2;
inline constexpr std::uint8_t SYSTEM_ALARM_ACE_TYPE = 0x3;

inline constexpr std::uint8_t OBJECT_INHERIT_ACE = 0x01;
inline constexpr std::uint8_t CONTAINER_INHERIT_ACE = 0x02;
inline constexpr std::uint8_t NO_PROPAGATE_INHERIT_ACE = 0x04;
inline constexpr std::uint8_t INHERIT_ONLY_ACE = 0x08;
inline constexpr std::uint8_t INHERITED_ACE = 0x10;
inline constexpr std::uint8_t SUCCESSFUL_ACCESS_ACE_FLAG = 0x40;
inline constexpr std::uint8_t FAILED_ACCESS_ACE_FLAG = 0x80;

// Security descriptor control bits.
inline constexpr std::uint16_t SE_DACL_PRESENT = 0x0004;
inline constexpr std::uint16_t SE_SACL_PRESENT = 0x0010;
inline constexpr std::uint16_t SE_DACL_AUTO_INHERIT_REQ = 0x0100;
inline constexpr std::uint16_t SE_SACL_AUTO_INHERIT_REQ = 0x0200;
inline constexpr std::uint16_t SE_DACL_AUTO_INHERITED = 0x0400;
inline constexpr std::uint16_t SE_SACL_AUTO_INHERITED = 0x0800;
inline constexpr std::uint16_t SE_DACL_PROTECTED = 0x1000;
inline constexpr std::uint16_t SE_SACL_PROTECTED = 0x2000;
inline constexpr std::uint16_t SE_SELF_RELATIVE = 0x8000;

inline constexpr std::uint32_t FILE_ALL_ACCESS = 0x1F01FF;

struct AccessControlEntry {
    std::uint8_t type = ACCESS_ALLOWED_ACE_TYPE;
    std::uint8_t flags = 0;
    std::uint32_t mask = 0;
    Sid sid;
    friend bool operator==(const AccessControlEntry&, const AccessControlEntry&) = default;
};

struct SecurityDescriptor {
    std::uint16_t control = SE_SELF_RELATIVE;
    std::optional<Sid> owner;  // absent: the system's default applies
    std::optional<Sid> group;
    // Meaningful only with SE_DACL_PRESENT / SE_SACL_PRESENT; a present
    // list without entries grants nothing, a missing DACL grants everything.
    std::vector<AccessControlEntry> dacl;
    std::vector<AccessControlEntry> sacl;
    friend bool operator==(const SecurityDescriptor&, const SecurityDescriptor&) = default;

    bool dacl_protected() const { return (control & SE_DACL_PROTECTED) != 0; }
};

// Reads SDDL text as ConvertStringSecurityDescriptorToSecurityDescriptorW
// does for the components "O:", "G:", "D:" and "S:", the ACL flags "P", "AI"
// and "AR", and the ACE types A, D, AU and AL with their flags, named or
// numeric rights and SID strings or aliases. Fails with the Windows error:
// ERROR_INVALID_PARAMETER for an unknown component, ERROR_INVALID_SID for an
// owner or group that is no SID, ERROR_INVALID_ACL for a malformed ACL or
// entry. Not modelled, and refused as malformed: null DACLs
// ("NO_ACCESS_CONTROL"), object ACEs, conditional expressions and white
// space, none of which the helper writes.
std::expected<SecurityDescriptor, win::DWORD> parse_security_descriptor(std::u16string_view sddl);

// For test failures: the descriptor in SDDL with numeric masks and SIDs.
void PrintTo(const SecurityDescriptor& descriptor, std::ostream* out);

// The length of the descriptor's self-relative form, in bytes.
std::size_t self_relative_size(const SecurityDescriptor& descriptor);

}  // namespace sim
