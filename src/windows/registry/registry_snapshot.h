// One registry key as it was captured for the migration journal. The
// registration code below the engine builds these and the journal stores
// them, so the record sits below both, next to the value it holds.
#pragma once

#include "windows/registry/registry_value.h"

#include <string>
#include <vector>

namespace installer_helper {

struct RegistrySnapshot {
    std::string key;  // below the scope's root, backslash-separated
    bool exists = false;
    std::vector<RegistryValue> values;  // in enumeration order; empty when the key was absent
    friend bool operator==(const RegistrySnapshot&, const RegistrySnapshot&) = default;
};

}  // namespace installer_helper
