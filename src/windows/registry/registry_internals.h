// What the registry layer's files share: its limits, its access masks and
// how the status of a registry call is read.
#pragma once

#include "platform/win_api.h"
#include "windows/registry/registry.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace installer_helper::registry_internals {

// Launcher values are small; a larger one is refused rather than read.
inline constexpr std::size_t largest_value_data = 0x100000;
// A value that keeps growing while it is read is read this often at most.
inline constexpr int read_attempts = 3;
inline constexpr std::size_t longest_value_name = 0x3FFF;
inline constexpr std::size_t value_name_buffer = longest_value_name + 1;

// Always the 64-bit view, for every key along a path.
inline constexpr win::REGSAM read_access = win::KEY_READ | win::KEY_WOW64_64KEY;
inline constexpr win::REGSAM writable_access =
    win::KEY_READ | win::KEY_WRITE | win::KEY_WOW64_64KEY;
static_assert(read_access == 0x20119 && writable_access == 0x2011F);

// A missing key or value, or a missing key on the way to one.
inline bool is_absent(win::LONG status) {
    return status == static_cast<win::LONG>(win::ERROR_FILE_NOT_FOUND) ||
           status == static_cast<win::LONG>(win::ERROR_PATH_NOT_FOUND);
}

// Success, or the layer's sentence for the failed call named by `word`.
inline Result<> check_status(std::string_view word, win::LONG status) {
    return registry_error(word, static_cast<std::uint32_t>(status));
}

}  // namespace installer_helper::registry_internals
