// Every value of a leaf key, read and checked, in the registry's own order.
#include "windows/registry/registry.h"

#include "text_encoding.h"
#include "windows/registry/registry_internals.h"

#include <algorithm>

namespace installer_helper {

using registry_internals::check_status;

Result<> ensure_no_subkeys(win::HKEY key) {
    win::DWORD subkeys = 0;
    const win::LONG status = win::RegQueryInfoKeyW(key, &subkeys);
    if (auto checked = check_status("subkey inspection", status); !checked) return checked;
    if (subkeys != 0) return fail("Unexpected subkeys in launcher registration.");
    return {};
}

Result<std::vector<RegistryValue>> enumerate_registry_values(win::HKEY key) {
    if (auto leaf = ensure_no_subkeys(key); !leaf) return std::unexpected(leaf.error());
    std::vector<RegistryValue> values;
    std::u16string name_buffer(registry_internals::value_name_buffer, u'\0');
    for (win::DWORD index = 0;; ++index) {
        win::DWORD length = static_cast<win::DWORD>(name_buffer.size());
        const win::LONG status = win::RegEnumValueW(key, index, name_buffer.data(), &length);
        if (status == static_cast<win::LONG>(win::ERROR_NO_MORE_ITEMS)) return values;
        if (auto checked = check_status("value enumeration", status); !checked)
            return std::unexpected(checked.error());
        const std::size_t name_length = std::min<std::size_t>(length, name_buffer.size());
        const auto name = utf8_from_utf16(std::u16string_view(name_buffer.data(), name_length));
        if (!name) return fail("Invalid UTF-16 registry value name.");

        auto value = read_registry_value(key, *name);
        if (!value) return std::unexpected(value.error());
        if (!*value) return fail("Launcher registry changed during enumeration.");
        if (auto shape = check_launcher_value(**value); !shape)
            return std::unexpected(shape.error());
        values.push_back(std::move(**value));
    }
}

}  // namespace installer_helper
