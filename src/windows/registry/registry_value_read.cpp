// Reading one value as stored, and the shape rules for the values the
// helper keeps or interprets.
#include "windows/registry/registry.h"

#include "text_encoding.h"
#include "windows/registry/registry_internals.h"

#include <algorithm>

namespace installer_helper {
namespace {

using registry_internals::check_status;
using registry_internals::is_absent;
using registry_internals::largest_value_data;

bool is_even_and_ends_with_zeros(const std::vector<std::uint8_t>& data, std::size_t zeros,
                                 std::size_t minimum) {
    return data.size() >= minimum && data.size() % 2 == 0 &&
           std::all_of(data.end() - static_cast<std::ptrdiff_t>(zeros), data.end(),
                       [](std::uint8_t byte) { return byte == 0; });
}

bool has_valid_shape(std::uint32_t kind, const std::vector<std::uint8_t>& data) {
    switch (kind) {
        case REG_SZ:
        case REG_EXPAND_SZ: return is_even_and_ends_with_zeros(data, 2, 2);
        case REG_BINARY: return true;
        case REG_DWORD: return data.size() == 4;
        case REG_MULTI_SZ: return is_even_and_ends_with_zeros(data, 4, 4);
        case REG_QWORD: return data.size() == 8;
        default: return false;
    }
}

}  // namespace

Result<std::optional<RegistryValue>> read_registry_value(win::HKEY key, std::string_view name) {
    const auto wide = to_registry_name(name);
    if (!wide) return std::unexpected(wide.error());

    // Another program may rewrite the value between the size query and the
    // read; a value that grew meanwhile is read again from the start.
    for (int attempt = 0; attempt < registry_internals::read_attempts; ++attempt) {
        win::DWORD type = 0;
        win::DWORD size = 0;
        win::LONG status = win::RegQueryValueExW(key, wide->c_str(), &type, nullptr, &size);
        if (is_absent(status)) return std::optional<RegistryValue>();
        if (auto checked = check_status("value size read", status); !checked)
            return std::unexpected(checked.error());
        if (size > largest_value_data) return fail("Launcher registry value is too large.");

        std::vector<std::uint8_t> data(size);
        // A buffer pointer even for no bytes, so that the call reads the
        // value rather than only its size.
        std::uint8_t empty = 0;
        win::DWORD read_size = size;
        status = win::RegQueryValueExW(key, wide->c_str(), &type,
                                       data.empty() ? &empty : data.data(), &read_size);
        if (status == static_cast<win::LONG>(win::ERROR_MORE_DATA)) continue;
        if (auto checked = check_status("value read", status); !checked)
            return std::unexpected(checked.error());
        data.resize(std::min<std::size_t>(data.size(), read_size));
        return RegistryValue{std::string(name), type, std::move(data)};
    }
    return fail("Launcher registry changed repeatedly while being read.");
}

Result<> check_launcher_value(const RegistryValue& value) {
    if (value.name.find('\0') != std::string::npos ||
        utf16_length(value.name) > registry_internals::longest_value_name ||
        value.data.size() > largest_value_data)
        return fail("Invalid launcher registry value.");
    if (!has_valid_shape(value.kind, value.data))
        return fail("Unsupported or malformed launcher registry value.");
    return {};
}

}  // namespace installer_helper
