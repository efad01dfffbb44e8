// Reading both registration keys as they are, each as a leaf key whose
// every value is well-formed.
#include "windows/registry/registration.h"

#include "windows/registry/registry.h"

namespace installer_helper {
namespace {

Result<RegistrySnapshot> capture_key(RegistryScope scope, std::string_view sid,
                                     std::string_view path) {
    const auto key = open_scoped_key(scope, sid, path, false, false);
    if (!key) return std::unexpected(key.error());
    if (!*key) return RegistrySnapshot{std::string(path), false, {}};
    auto values = enumerate_registry_values((*key)->get());
    if (!values) return std::unexpected(values.error());
    return RegistrySnapshot{std::string(path), true, std::move(*values)};
}

}  // namespace

Result<std::vector<RegistrySnapshot>> capture_registration(RegistryScope scope,
                                                           std::string_view sid) {
    std::vector<RegistrySnapshot> snapshots;
    for (const std::string_view path : REGISTRATION_KEYS) {
        auto snapshot = capture_key(scope, sid, path);
        if (!snapshot) return std::unexpected(snapshot.error());
        snapshots.push_back(std::move(*snapshot));
    }
    if (auto valid = validate_registration(snapshots); !valid)
        return std::unexpected(valid.error());
    return snapshots;
}

}  // namespace installer_helper
