// The owner of an open registry key.
#pragma once

#include "platform/win_api.h"
#include "windows/handles.h"

namespace installer_helper {

// The roots the helper opens keys below. They belong to the system: a
// RegistryKey never holds one, so none is ever closed.
inline bool is_predefined_key(win::HKEY key) {
    return key == win::HKEY_LOCAL_MACHINE || key == win::HKEY_USERS;
}

// An open key is invalid at null and is closed with RegCloseKey.
struct RegistryKeyTraits {
    using pointer = win::HKEY;
    static pointer invalid() { return nullptr; }
    static bool is_valid(pointer value) { return value != nullptr && !is_predefined_key(value); }
    static void close(pointer value) { win::RegCloseKey(value); }
};
using RegistryKey = UniqueResource<RegistryKeyTraits>;

}  // namespace installer_helper
