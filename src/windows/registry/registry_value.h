// One registry value as the registry stores it. The migration journal keeps
// these in its registration snapshots, so the type sits below both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace installer_helper {

// Registry value types that the helper keeps.
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_LINK = 6;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;
inline constexpr std::uint32_t REG_QWORD = 11;

struct RegistryValue {
    std::string name;  // UTF-8; empty for the key's default value
    std::uint32_t kind = 0;
    std::vector<std::uint8_t> data;  // exactly as stored; strings are UTF-16LE with their NULs
    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

}  // namespace installer_helper
