// The launcher's registration in the registry: captured before a migration,
// put back exactly when it is rolled back, and the older GUID-keyed
// installation's registration removed when a migration is committed.
#pragma once

#include "outcome.h"
#include "registry_scope.h"
#include "windows/registry/registry_snapshot.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace installer_helper {

// The two keys of the registration, below the scope's root, in the order a
// snapshot list holds them.
inline constexpr std::array<std::string_view, 2> REGISTRATION_KEYS{
    "Software\\Quillmora\\Quillmora Launcher",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmora Launcher",
};

// The older installation's registration, below the scope's root: a key
// named by its application GUID whose "InstallLocation" names the
// directory it was installed in, and an uninstall entry of the same name.
inline constexpr std::string_view LEGACY_LOCATION_VALUE = "InstallLocation";
std::string legacy_registration_key();
std::string legacy_uninstall_key();

// One snapshot per registration key, validated.
Result<std::vector<RegistrySnapshot>> capture_registration(RegistryScope scope,
                                                           std::string_view sid);

// The shape every snapshot list must have, whether just captured or read
// back from a journal: the two keys in order, and values within the limits.
Result<> validate_registration(const std::vector<RegistrySnapshot>& snapshots);

// Puts both keys back as captured. Nothing is changed unless the snapshots
// and the registration as it is now pass every check; a failure part-way
// leaves what was done, and running the restore again finishes it.
Result<> restore_registration(RegistryScope scope, std::string_view sid,
                              const std::vector<RegistrySnapshot>& snapshots);

// Removes the older installation's registration when its "InstallLocation"
// names `installation_directory`; leaves one that names another alone.
Result<> remove_legacy_registration(RegistryScope scope, std::string_view sid,
                                    std::string_view installation_directory);

}  // namespace installer_helper
