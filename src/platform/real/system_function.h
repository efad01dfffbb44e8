// Functions of Windows libraries that the executable does not import. A DLL
// of an imported name placed beside the executable would be loaded before
// main and run with the helper's rights, and GNU ld cannot restrict imports
// to System32; so only KERNEL32, ADVAPI32 and the C runtime are imported, and
// every other library is loaded from System32 alone, on the first call that
// needs it.
#pragma once

#include <windows.h>

namespace win::real {

// What a look-up found: the function, or null with the last error that
// LoadLibraryExW or GetProcAddress left. The look-up itself leaves the last
// error as it was. A library that has the function stays loaded for the rest
// of the process, so the address stays valid.
struct SystemProcedure {
    void (*address)() = nullptr;
    bool library_missing = false;
    DWORD error = 0;
};
SystemProcedure find_system_procedure(const wchar_t* library, const char* name);

template <typename Function>
class SystemFunction;

// One function of a System32 library, looked up once, when the object is
// made (a function-local static, so on the seam function's first call).
template <typename Result, typename... Arguments>
class SystemFunction<Result (*)(Arguments...)> {
public:
    using Function = Result (*)(Arguments...);

    SystemFunction(const wchar_t* library, const char* name)
        : found_(find_system_procedure(library, name)) {}

    // Null when the library or the function cannot be had.
    Function get() const { return reinterpret_cast<Function>(found_.address); }
    bool library_missing() const { return found_.library_missing; }

    // The function's answer; where it cannot be had, `failed` with the
    // loader's last error, as the function reports a failure of its own.
    Result call_or(Result failed, Arguments... arguments) const {
        if (found_.address == nullptr) {
            ::SetLastError(found_.error);
            return failed;
        }
        return get()(arguments...);
    }

private:
    SystemProcedure found_;
};

}  // namespace win::real
