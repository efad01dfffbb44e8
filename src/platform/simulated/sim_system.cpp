// The seam's process, console, account and text functions, acting on the
// simulated machine.
#include "platform/simulated/accounts.h"
#include "platform/simulated/case_mapping.h"
#include "platform/simulated/machine.h"
#include "platform/simulated/sim_handles.h"
#include "platform/win_api.h"
#include "text_encoding.h"

#include <algorithm>
#include <cstring>

namespace win {
namespace {

using sim::current;
using sim::Machine;

constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
HMODULE const ntdll_module = reinterpret_cast<HMODULE>(0x7FFE0000);

BOOL failure(Machine& machine, DWORD error) {
    machine.set_last_error(error);
    return FALSE;
}

bool is_standard_stream(HANDLE handle) {
    return handle == sim::standard_error_handle || handle == sim::standard_output_handle;
}

sim::Console::Stream stream_kind(const Machine& machine, HANDLE handle) {
    return handle == sim::standard_error_handle ? machine.console.error : machine.console.output;
}

char16_t* copy_to_local(Machine& machine, std::u16string_view text) {
    auto* memory = static_cast<char16_t*>(machine.local_alloc((text.size() + 1) * 2));
    std::copy(text.begin(), text.end(), memory);
    memory[text.size()] = 0;
    return memory;
}

}  // namespace

const char16_t* GetCommandLineW() { return current().command_line.c_str(); }

HANDLE GetStdHandle(DWORD std_handle) {
    Machine& machine = current();
    if (!machine.enter("GetStdHandle", false)) return INVALID_HANDLE_VALUE;
    HANDLE handle = nullptr;
    if (std_handle == STD_ERROR_HANDLE) handle = sim::standard_error_handle;
    else if (std_handle == STD_OUTPUT_HANDLE) handle = sim::standard_output_handle;
    else return failure(machine, ERROR_INVALID_HANDLE), INVALID_HANDLE_VALUE;
    return stream_kind(machine, handle) == sim::Console::Stream::absent ? nullptr : handle;
}

BOOL GetConsoleMode(HANDLE console, DWORD* mode) {
    Machine& machine = current();
    if (!machine.enter("GetConsoleMode", false)) return FALSE;
    if (!is_standard_stream(console) || stream_kind(machine, console) != sim::Console::Stream::console)
        return failure(machine, ERROR_INVALID_HANDLE);
    *mode = 0x3;
    return TRUE;
}

UINT GetConsoleOutputCP() { return current().console.output_code_page; }

BOOL WriteConsoleW(HANDLE console, const char16_t* buffer, DWORD chars_to_write,
                   DWORD* chars_written) {
    Machine& machine = current();
    *chars_written = 0;
    if (!machine.enter("WriteConsoleW", true)) return FALSE;
    if (console != sim::standard_error_handle ||
        machine.console.error != sim::Console::Stream::console)
        return failure(machine, ERROR_INVALID_HANDLE);
    machine.console.error_console_text.append(buffer, chars_to_write);
    ++machine.console.error_writes;
    *chars_written = chars_to_write;
    return TRUE;
}

HANDLE GetCurrentProcess() { return INVALID_HANDLE_VALUE; }  // the pseudo-handle -1

BOOL OpenProcessToken(HANDLE process, DWORD desired_access, HANDLE* token) {
    Machine& machine = current();
    *token = nullptr;
    if (!machine.enter("OpenProcessToken", false)) return FALSE;
    auto object = std::make_unique<sim::TokenObject>();
    if (process == GetCurrentProcess()) {
        object->user_sid = machine.accounts.user_sid;
        object->elevated = machine.accounts.elevated;
    } else if (auto* source = machine.handle<sim::TokenSource>(process)) {
        if (!source->token_for(*object, desired_access)) return FALSE;
    } else {
        return failure(machine, ERROR_INVALID_HANDLE);
    }
    object->access = desired_access;
    *token = machine.add_handle(std::move(object));
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                         void* information, DWORD length, DWORD* return_length) {
    Machine& machine = current();
    *return_length = 0;
    if (!machine.enter("GetTokenInformation", false)) return FALSE;
    auto* object = machine.handle<sim::TokenObject>(token);
    if (object == nullptr) return failure(machine, ERROR_INVALID_HANDLE);
    if ((object->access & TOKEN_QUERY) == 0) return failure(machine, ERROR_ACCESS_DENIED);
    if (information_class == TokenElevation) {
        *return_length = sizeof(TOKEN_ELEVATION);
        if (length < sizeof(TOKEN_ELEVATION)) return failure(machine, ERROR_INSUFFICIENT_BUFFER);
        static_cast<TOKEN_ELEVATION*>(information)->TokenIsElevated = object->elevated ? 1 : 0;
        return TRUE;
    }
    if (information_class == TokenUser) {
        const auto sid = sim::parse_sid_text(installer_helper::utf16_from_wtf8(object->user_sid));
        const std::vector<std::uint8_t> bytes = sim::sid_bytes(sid.value_or(sim::Sid{}));
        const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + bytes.size());
        *return_length = needed;
        if (length < needed) return failure(machine, ERROR_INSUFFICIENT_BUFFER);
        auto* user = static_cast<TOKEN_USER*>(information);
        auto* sid_memory = static_cast<std::uint8_t*>(information) + sizeof(TOKEN_USER);
        std::memcpy(sid_memory, bytes.data(), bytes.size());
        user->User.Sid = sid_memory;
        user->User.Attributes = 0;
        return TRUE;
    }
    return failure(machine, ERROR_INVALID_PARAMETER);
}

BOOL ConvertSidToStringSidW(PSID sid, char16_t** string_sid) {
    Machine& machine = current();
    *string_sid = nullptr;
    if (!machine.enter("ConvertSidToStringSidW", false)) return FALSE;
    const auto parsed = sim::sid_from_bytes(sid);
    if (!parsed) return failure(machine, ERROR_INVALID_SID);
    const std::u16string text =
        machine.accounts.sid_text_override.value_or(sim::format_sid(*parsed));
    *string_sid = copy_to_local(machine, text);
    return TRUE;
}

BOOL ConvertStringSidToSidW(const char16_t* string_sid, PSID* sid) {
    Machine& machine = current();
    *sid = nullptr;
    if (!machine.enter("ConvertStringSidToSidW", false)) return FALSE;
    const auto parsed = sim::parse_sid_text(string_sid == nullptr ? u"" : string_sid);
    if (!parsed) return failure(machine, ERROR_INVALID_SID);
    const std::vector<std::uint8_t> bytes = sim::sid_bytes(*parsed);
    void* memory = machine.local_alloc(bytes.size());
    std::memcpy(memory, bytes.data(), bytes.size());
    *sid = memory;
    return TRUE;
}

BOOL IsValidSid(PSID sid) {
    Machine& machine = current();
    if (!machine.enter("IsValidSid", false)) return FALSE;
    return sim::sid_from_bytes(sid) ? TRUE : FALSE;
}

HLOCAL LocalFree(HLOCAL memory) {
    Machine& machine = current();
    if (memory == nullptr) return nullptr;
    if (!machine.local_free(memory)) {
        machine.set_last_error(ERROR_INVALID_HANDLE);
        return memory;
    }
    return nullptr;
}

DWORD GetLastError() { return current().last_error; }

DWORD FormatMessageW(DWORD flags, const void* source, DWORD message_id, DWORD,
                     char16_t* buffer, DWORD size) {
    Machine& machine = current();
    if (!machine.enter("FormatMessageW", false)) return 0;
    const bool from_ntdll = (flags & FORMAT_MESSAGE_FROM_HMODULE) != 0 && source == ntdll_module;
    const auto text = from_ntdll ? machine.messages.ntdll(message_id)
                                 : machine.messages.system(message_id);
    if (!text) return failure(machine, ERROR_MR_MID_NOT_FOUND), 0;
    if (text->size() + 1 > size) return failure(machine, ERROR_INSUFFICIENT_BUFFER), 0;
    std::copy(text->begin(), text->end(), buffer);
    buffer[text->size()] = 0;
    return static_cast<DWORD>(text->size());
}

HMODULE GetModuleHandleW(const char16_t* module_name) {
    Machine& machine = current();
    if (!machine.enter("GetModuleHandleW", false)) return nullptr;
    const std::u16string_view name = module_name == nullptr ? u"" : module_name;
    if (sim::equal_ignoring_case(name, u"NTDLL.DLL") || sim::equal_ignoring_case(name, u"NTDLL"))
        return ntdll_module;
    return failure(machine, ERROR_MOD_NOT_FOUND), nullptr;
}

int CompareStringOrdinal(const char16_t* string1, int count1, const char16_t* string2, int count2,
                         BOOL ignore_case) {
    Machine& machine = current();
    if (!machine.enter("CompareStringOrdinal", false)) return 0;
    if (string1 == nullptr || string2 == nullptr || count1 < -1 || count2 < -1)
        return failure(machine, ERROR_INVALID_PARAMETER), 0;
    const std::u16string_view a = count1 == -1 ? std::u16string_view(string1)
                                               : std::u16string_view(string1, count1);
    const std::u16string_view b = count2 == -1 ? std::u16string_view(string2)
                                               : std::u16string_view(string2, count2);
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        const char16_t x = ignore_case ? sim::upper_case(a[i]) : a[i];
        const char16_t y = ignore_case ? sim::upper_case(b[i]) : b[i];
        if (x != y) return x < y ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
    }
    if (a.size() == b.size()) return CSTR_EQUAL;
    return a.size() < b.size() ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}

}  // namespace win
