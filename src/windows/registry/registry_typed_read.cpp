// A string or a DWORD read from one key, interpreted by its type.
#include "windows/registry/registry.h"

#include "text_encoding.h"

namespace installer_helper {
namespace {

// The value itself, or absent when the key or the value is missing.
Result<std::optional<RegistryValue>> read_scoped_value(RegistryScope scope, std::string_view sid,
                                                       std::string_view path,
                                                       std::string_view name) {
    const auto key = open_scoped_key(scope, sid, path, false, false);
    if (!key) return std::unexpected(key.error());
    if (!*key) return std::optional<RegistryValue>();
    return read_registry_value((*key)->get(), name);
}

// The stored UTF-16LE units without their one terminating NUL.
Result<std::string> decode_registry_string(const std::vector<std::uint8_t>& data) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    units.pop_back();  // check_launcher_value made sure it is there and is NUL
    if (units.find(u'\0') != std::u16string::npos)
        return fail("Registry string contains an embedded null.");
    auto text = utf8_from_utf16(units);
    if (!text) return fail("Invalid UTF-16 registry string.");
    return std::move(*text);
}

}  // namespace

Result<std::optional<std::string>> read_registry_string(RegistryScope scope, std::string_view sid,
                                                        std::string_view path,
                                                        std::string_view name) {
    const auto value = read_scoped_value(scope, sid, path, name);
    if (!value) return std::unexpected(value.error());
    if (!*value) return std::optional<std::string>();
    if ((*value)->kind != REG_SZ && (*value)->kind != REG_EXPAND_SZ)
        return fail("Expected a registry string.");
    if (auto shape = check_launcher_value(**value); !shape) return std::unexpected(shape.error());
    // REG_EXPAND_SZ text stays as stored: nothing here expands its references.
    auto text = decode_registry_string((*value)->data);
    if (!text) return std::unexpected(text.error());
    return std::optional<std::string>(std::move(*text));
}

Result<std::optional<std::uint32_t>> read_registry_dword(std::string_view path,
                                                         std::string_view name) {
    const auto value = read_scoped_value(RegistryScope::Machine, {}, path, name);
    if (!value) return std::unexpected(value.error());
    if (!*value) return std::optional<std::uint32_t>();
    if (auto shape = check_launcher_value(**value); !shape) return std::unexpected(shape.error());
    if ((*value)->kind != REG_DWORD) return fail("Expected a registry DWORD.");
    std::uint32_t number = 0;
    for (std::size_t i = 4; i-- > 0;) number = (number << 8) | (*value)->data[i];  // little-endian
    return std::optional<std::uint32_t>(number);
}

}  // namespace installer_helper
