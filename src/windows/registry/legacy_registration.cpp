// The registration of the older installation, keyed by its application
// GUID, removed once a migration of the same directory is committed.
#include "windows/registry/registration.h"

#include "message_format.h"
#include "windows/installation_path.h"
#include "windows/registry/registry.h"

#include <array>
#include <string>

namespace installer_helper {
namespace {

constexpr std::string_view legacy_application_guid = "3b9e2c41-7d05-5a18-9c6e-d41f80a2b7c3";

struct LegacyKeys {
    std::string key;
    std::string uninstall_entry;
};

LegacyKeys legacy_keys() { return {legacy_registration_key(), legacy_uninstall_key()}; }

// Whether the legacy registration names this installation directory. Both
// paths must normalise: a location that does not is an error, not a miss.
Result<bool> registered_for(RegistryScope scope, std::string_view sid, const LegacyKeys& keys,
                            std::string_view installation_directory) {
    const auto location = read_registry_string(scope, sid, keys.key, LEGACY_LOCATION_VALUE);
    if (!location) return std::unexpected(location.error());
    if (!*location || (*location)->empty()) return false;
    const auto recorded = normalize_installation_path(**location);
    if (!recorded) return std::unexpected(recorded.error());
    const auto installation = normalize_installation_path(installation_directory);
    if (!installation) return std::unexpected(installation.error());
    return same_installation_path(*recorded, *installation);
}

// A key that will be deleted must be a plain leaf whose values are all
// well-formed, so that neither key goes when the other would be refused.
Result<> check_removable(RegistryScope scope, std::string_view sid, std::string_view path) {
    const auto key = open_scoped_key(scope, sid, path, false, false);
    if (!key) return std::unexpected(key.error());
    if (!*key) return {};
    const auto values = enumerate_registry_values((*key)->get());
    if (!values) return std::unexpected(values.error());
    return {};
}

}  // namespace

std::string legacy_registration_key() {
    return format_message("Software\\{}", legacy_application_guid);
}

std::string legacy_uninstall_key() {
    return format_message("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{}",
                          legacy_application_guid);
}

Result<> remove_legacy_registration(RegistryScope scope, std::string_view sid,
                                    std::string_view installation_directory) {
    const LegacyKeys keys = legacy_keys();
    const auto registered = registered_for(scope, sid, keys, installation_directory);
    if (!registered) return std::unexpected(registered.error());
    if (!*registered) return {};

    const std::array<std::string_view, 2> in_removal_order{keys.uninstall_entry, keys.key};
    for (const std::string_view path : in_removal_order)
        if (auto removable = check_removable(scope, sid, path); !removable) return removable;
    for (const std::string_view path : in_removal_order)
        if (auto removed = remove_registry_key(scope, sid, path); !removed) return removed;
    return {};
}

}  // namespace installer_helper
