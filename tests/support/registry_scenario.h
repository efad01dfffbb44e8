// Registry values as bytes, for scenarios on the simulated registry.
#pragma once

#include "platform/simulated/registry.h"
#include "text_encoding.h"

#include <cstdint>
#include <string_view>

inline win::HKEY const HKLM = win::HKEY_LOCAL_MACHINE;
inline win::HKEY const HKU = win::HKEY_USERS;

// An account whose hive the user-scope tests populate.
inline constexpr std::string_view player_sid = "S-1-5-21-1004336348-1177238915-682003330-1001";

// UTF-16LE units of UTF-8 (or WTF-8) text, without a terminator.
inline sim::Bytes utf16_units(std::string_view text) {
    sim::Bytes bytes;
    for (const char16_t unit : installer_helper::utf16_from_wtf8(text)) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

// A REG_SZ or REG_EXPAND_SZ value's data as Windows stores it: the text and one NUL unit.
inline sim::Bytes string_bytes(std::string_view text) {
    sim::Bytes bytes = utf16_units(text);
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

inline sim::Bytes dword_bytes(std::uint32_t number) {
    return {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
}
