// The shape of a snapshot list. A journal is read back from disk, so its
// snapshots are checked as strictly as a fresh capture before a restore
// writes any of them.
#include "windows/registry/registration.h"

#include "windows/registry/registry.h"
#include "windows/registry/registry_internals.h"
#include "windows/registry/value_name_key.h"

#include <set>
#include <string>

namespace installer_helper {
namespace {

constexpr const char* invalid_snapshot = "Invalid registration recovery snapshot.";
constexpr const char* invalid_value = "Invalid registration recovery value.";

}  // namespace

Result<> validate_registration(const std::vector<RegistrySnapshot>& snapshots) {
    if (snapshots.size() != REGISTRATION_KEYS.size()) return fail(invalid_snapshot);
    // All data together stays within what one value may hold, which keeps
    // the journal within its size.
    std::size_t total_data = 0;
    for (std::size_t i = 0; i < snapshots.size(); ++i) {
        const RegistrySnapshot& snapshot = snapshots[i];
        if (snapshot.key != REGISTRATION_KEYS[i] || (!snapshot.exists && !snapshot.values.empty()))
            return fail(invalid_snapshot);

        std::set<std::string> names;  // by value_name_key: the registry ignores letter case
        for (const RegistryValue& value : snapshot.values) {
            total_data += value.data.size();
            if (total_data > registry_internals::largest_value_data) return fail(invalid_value);
            // The name limits and the type's data shape are those of any
            // launcher value read from the registry.
            if (!check_launcher_value(value)) return fail(invalid_value);
            if (!names.insert(value_name_key(value.name)).second) return fail(invalid_value);
        }
    }
    return {};
}

}  // namespace installer_helper
