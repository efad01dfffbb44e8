// A complete older installation on the simulated machine, for the migration
// tests: the three launcher binaries, every owned file, the owned trees a
// few levels deep, the player's own files beside them, the launcher's
// registration in both keys and the older GUID-keyed registration.
#pragma once

#include "installer_context.h"
#include "platform/simulated/machine.h"
#include "registry_scenario.h"

#include <algorithm>
#include <map>
#include <string>
#include <string_view>

inline constexpr std::string_view legacy_directory = "C:\\Games\\Quillmora";
inline constexpr std::string_view launcher_registration = "Software\\Quillmora\\Quillmora Launcher";
inline constexpr std::string_view uninstall_registration =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmora Launcher";
inline constexpr std::string_view legacy_registration =
    "Software\\3b9e2c41-7d05-5a18-9c6e-d41f80a2b7c3";
inline constexpr std::string_view legacy_uninstall_registration =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\3b9e2c41-7d05-5a18-9c6e-d41f80a2b7c3";

// The user-scope context of the installation, as the context action wrote it.
installer_helper::InstallerContext legacy_context();

// Lays the installation out; the player's account is the helper's own.
void install_legacy(sim::Machine& machine);

// Everything the migration may touch or must leave alone, for comparisons:
// every file under the installation's drive folder with its bytes ("<dir>"
// for a directory), and every value of the four registration keys.
using MachineState = std::map<std::string, std::string>;
MachineState state_of(sim::Machine& machine);

// Entries of a MachineState: a path among the owned files or inside an
// owned tree; a key or value of the older GUID-keyed registration; of the
// launcher's own two keys.
bool is_owned(const std::string& path);
bool is_legacy_registration(const std::string& entry);
bool is_launcher_registration(const std::string& entry);

// The registry path of a key in the player's hive.
std::string player_key(std::string_view key);
