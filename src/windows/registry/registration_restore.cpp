// Putting both registration keys back as they were captured: a key that
// existed gets exactly its captured values, one that did not is deleted.
#include "windows/registry/registration.h"

#include "windows/registry/registry.h"
#include "windows/registry/registry_internals.h"
#include "windows/registry/value_name_key.h"

#include <algorithm>

namespace installer_helper {
namespace {

using registry_internals::check_status;

bool is_captured(const RegistrySnapshot& snapshot, const RegistryValue& current) {
    const std::string key = value_name_key(current.name);
    return std::any_of(snapshot.values.begin(), snapshot.values.end(),
                       [&](const RegistryValue& captured) {
                           return value_name_key(captured.name) == key;
                       });
}

// Values that the snapshot also names are kept: the writes below replace
// them, so the key never lacks a value it is meant to have.
Result<> delete_values_not_captured(win::HKEY key, const RegistrySnapshot& snapshot) {
    const auto current = enumerate_registry_values(key);
    if (!current) return std::unexpected(current.error());
    for (const RegistryValue& value : *current) {
        if (is_captured(snapshot, value)) continue;
        const auto name = to_registry_name(value.name);
        if (!name) return std::unexpected(name.error());
        if (auto deleted = check_status("value removal", win::RegDeleteValueW(key, name->c_str()));
            !deleted)
            return deleted;
    }
    return {};
}

// Every captured value is written, also one whose data is already equal.
Result<> write_captured_values(win::HKEY key, const RegistrySnapshot& snapshot) {
    for (const RegistryValue& value : snapshot.values) {
        const auto name = to_registry_name(value.name);
        if (!name) return std::unexpected(name.error());
        const win::LONG status = win::RegSetValueExW(key, name->c_str(), value.kind,
                                                     value.data.data(),
                                                     static_cast<win::DWORD>(value.data.size()));
        if (auto written = check_status("value restore", status); !written) return written;
    }
    return {};
}

Result<> restore_existing_key(RegistryScope scope, std::string_view sid,
                              const RegistrySnapshot& snapshot) {
    const auto key = open_scoped_key(scope, sid, snapshot.key, true, true);
    if (!key) return std::unexpected(key.error());
    if (!*key) return fail("Cannot create launcher registration.");
    if (auto deleted = delete_values_not_captured((*key)->get(), snapshot); !deleted)
        return deleted;
    if (auto written = write_captured_values((*key)->get(), snapshot); !written) return written;
    // The restored registration must survive a power loss before the
    // journal says it is back.
    return check_status("restore flush", win::RegFlushKey((*key)->get()));
}

}  // namespace

Result<> restore_registration(RegistryScope scope, std::string_view sid,
                              const std::vector<RegistrySnapshot>& snapshots) {
    if (auto valid = validate_registration(snapshots); !valid) return valid;
    // What is there now must pass every check of a capture (no links, no
    // subkeys, only well-formed values) before anything is changed.
    if (auto current = capture_registration(scope, sid); !current)
        return std::unexpected(current.error());

    for (const RegistrySnapshot& snapshot : snapshots) {
        const auto restored = snapshot.exists ? restore_existing_key(scope, sid, snapshot)
                                              : remove_registry_key(scope, sid, snapshot.key);
        if (!restored) return restored;
    }
    return {};
}

}  // namespace installer_helper
