// The helper's only way into the registry: scoped keys in the 64-bit view,
// opened one component at a time without following registry links, values
// read with a size limit, and every failed call turned into one sentence.
#pragma once

#include "outcome.h"
#include "registry_scope.h"
#include "windows/registry/registry_key.h"
#include "windows/registry/registry_value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installer_helper {

// Success for status 0, else "Registry {word} failed (Windows error {status}).".
Result<> registry_error(std::string_view word, std::uint32_t status);

// NUL-terminated UTF-16 for a key component or value name.
Result<std::u16string> to_registry_name(std::string_view name);

// A key below HKEY_LOCAL_MACHINE (machine) or HKEY_USERS\<sid> (user);
// absent when a component does not exist (and `create` is not set).
Result<std::optional<RegistryKey>> open_scoped_key(RegistryScope scope, std::string_view sid,
                                                   std::string_view path, bool writable,
                                                   bool create);
Result<std::optional<RegistryKey>> open_key_path(win::HKEY parent, std::string_view path,
                                                 bool writable, bool create);

Result<std::optional<RegistryValue>> read_registry_value(win::HKEY key, std::string_view name);
// The shape rules for every value that the helper keeps or interprets.
Result<> check_launcher_value(const RegistryValue& value);
Result<std::optional<std::string>> read_registry_string(RegistryScope scope, std::string_view sid,
                                                        std::string_view path,
                                                        std::string_view name);
// Machine scope only.
Result<std::optional<std::uint32_t>> read_registry_dword(std::string_view path,
                                                         std::string_view name);
Result<> ensure_no_subkeys(win::HKEY key);
// Every value of a leaf key, in the registry's enumeration order.
Result<std::vector<RegistryValue>> enumerate_registry_values(win::HKEY key);
// Deletes one leaf key without subkeys, then flushes its parent.
Result<> remove_registry_key(RegistryScope scope, std::string_view sid, std::string_view path);

}  // namespace installer_helper
