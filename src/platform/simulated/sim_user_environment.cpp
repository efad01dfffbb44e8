// The seam's desktop shell and user environment functions, acting on the
// simulated machine.
#include "platform/simulated/machine.h"
#include "platform/simulated/sim_handles.h"
#include "platform/win_api.h"

#include <algorithm>

namespace win {
namespace {

using sim::current;
using sim::Machine;

HWND const shell_window_handle = reinterpret_cast<HWND>(0x10010);

BOOL failure(Machine& machine, DWORD error) {
    machine.set_last_error(error);
    return FALSE;
}

DWORD report_temp_path(Machine& machine, DWORD buffer_length, char16_t* buffer) {
    const std::u16string& path = machine.environment.temp_path;
    const auto needed = static_cast<DWORD>(path.size() + 1);
    if (buffer_length < needed) return needed;
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    return static_cast<DWORD>(path.size());
}

}  // namespace

HWND GetShellWindow() {
    Machine& machine = current();
    if (!machine.enter("GetShellWindow", false)) return nullptr;
    return machine.environment.shell_window ? shell_window_handle : nullptr;
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* process_id) {
    Machine& machine = current();
    if (!machine.enter("GetWindowThreadProcessId", false)) return 0;
    if (window == nullptr || window != shell_window_handle || !machine.environment.shell_window)
        return failure(machine, ERROR_INVALID_WINDOW_HANDLE), 0;
    if (process_id != nullptr) *process_id = machine.environment.shell_process_id;
    return machine.environment.shell_thread_id;
}

BOOL CreateEnvironmentBlock(void** environment, HANDLE token, BOOL inherit) {
    Machine& machine = current();
    *environment = nullptr;
    if (!machine.enter("CreateEnvironmentBlock", false)) return FALSE;
    auto* object = machine.handle<sim::TokenObject>(token);
    if (object == nullptr) return failure(machine, ERROR_INVALID_HANDLE);
    // A primary token needs both rights.
    if ((object->access & (TOKEN_QUERY | TOKEN_DUPLICATE)) != (TOKEN_QUERY | TOKEN_DUPLICATE))
        return failure(machine, ERROR_ACCESS_DENIED);
    // Merging in the caller's own environment is not modelled: the helper
    // must never ask for it, so the request is refused.
    if (inherit) return failure(machine, ERROR_INVALID_PARAMETER);
    const auto profile = machine.environment.profiles.find(object->user_sid);
    if (profile == machine.environment.profiles.end())
        return failure(machine, ERROR_FILE_NOT_FOUND);
    *environment = machine.environment.create_block(profile->second);
    return TRUE;
}

BOOL DestroyEnvironmentBlock(void* environment) {
    Machine& machine = current();
    if (!machine.enter("DestroyEnvironmentBlock", false)) return FALSE;
    if (!machine.environment.destroy_block(environment))
        return failure(machine, ERROR_INVALID_PARAMETER);
    return TRUE;
}

DWORD GetTempPathW(DWORD buffer_length, char16_t* buffer) {
    Machine& machine = current();
    if (!machine.enter("GetTempPathW", false)) return 0;
    return report_temp_path(machine, buffer_length, buffer);
}

DWORD GetEnvironmentVariableW(const char16_t* name, char16_t* buffer, DWORD size) {
    Machine& machine = current();
    if (!machine.enter("GetEnvironmentVariableW", false)) return 0;
    const std::u16string* value = machine.environment.variable(name);
    if (value == nullptr) return failure(machine, ERROR_ENVVAR_NOT_FOUND), 0;
    const auto needed = static_cast<DWORD>(value->size() + 1);
    if (buffer == nullptr || size < needed) return needed;
    std::copy(value->begin(), value->end(), buffer);
    buffer[value->size()] = 0;
    return static_cast<DWORD>(value->size());
}

void SetLastError(DWORD error) { current().set_last_error(error); }

DWORD GetTempPath2W(DWORD buffer_length, char16_t* buffer) {
    Machine& machine = current();
    if (!machine.environment.has_temp_path2) return failure(machine, ERROR_CALL_NOT_IMPLEMENTED), 0;
    if (!machine.enter("GetTempPath2W", false)) return 0;
    return report_temp_path(machine, buffer_length, buffer);
}

}  // namespace win
