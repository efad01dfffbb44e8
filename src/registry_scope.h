// Where an installation is registered.
#pragma once

#include <optional>
#include <string_view>

namespace installer_helper {

// Machine scope is HKEY_LOCAL_MACHINE; user scope is HKEY_USERS below the
// original user's SID, never HKEY_CURRENT_USER.
enum class RegistryScope { User, Machine };

inline std::string_view scope_text(RegistryScope scope) {
    return scope == RegistryScope::Machine ? "machine" : "user";
}

inline std::optional<RegistryScope> scope_from_text(std::string_view text) {
    if (text == "user") return RegistryScope::User;
    if (text == "machine") return RegistryScope::Machine;
    return std::nullopt;
}

}  // namespace installer_helper
