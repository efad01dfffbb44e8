// The context action's work: what later runs must know about the original
// user and the installation, captured once and written to the context file.
#pragma once

#include "outcome.h"
#include "registry_scope.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installer_helper {

struct CaptureRequest {
    std::string output;                      // the installer context path
    std::optional<std::string> directory;    // -Directory as given
    std::optional<std::string> expected_sid;
    std::optional<std::string> expected_temp;
    bool uninstall = false;
};

Result<> capture_installer_context(const CaptureRequest& request);

// A shell folder of the scope's registry root: an absolute path, as stored.
Result<std::string> read_shell_folder(RegistryScope scope, std::string_view sid,
                                      std::string_view name);

// A registered installation directory, normalised; nothing when the key or
// value is absent or empty.
Result<std::optional<std::string>> read_registered_directory(RegistryScope scope,
                                                             std::string_view sid,
                                                             std::string_view key,
                                                             std::string_view name);

// "<SystemDrive>\Quillmora\Launcher", with "C:" when the variable is not set.
std::string default_installation_directory();

struct Registrations {
    std::optional<std::string> location;  // the older installation's InstallLocation
    std::optional<std::string> launcher;  // the launcher key's default value
};

RegistryScope decide_registry_scope(std::string_view directory, const Registrations& user,
                                    const Registrations& machine,
                                    const std::vector<std::string>& program_files);

}  // namespace installer_helper
