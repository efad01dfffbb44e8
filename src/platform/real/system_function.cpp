#include "platform/real/system_function.h"

namespace win::real {

SystemProcedure find_system_procedure(const wchar_t* library, const char* name) {
    const DWORD last_error = ::GetLastError();
    SystemProcedure found;
    // Never the executable's folder, the current directory or PATH.
    const HMODULE module = ::LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        found.library_missing = true;
        found.error = ::GetLastError();
    } else {
        // Through void(*)() so that the conversion of FARPROC is not diagnosed.
        found.address = reinterpret_cast<void (*)()>(::GetProcAddress(module, name));
        if (found.address == nullptr) {
            found.error = ::GetLastError();
            ::FreeLibrary(module);
        }
    }
    ::SetLastError(last_error);
    return found;
}

}  // namespace win::real
