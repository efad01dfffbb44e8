// The seam's Windows implementation: a pass-through with no logic of its own.
// The seam header comes first on purpose: <windows.h> defines many of its
// names as macros, and those must not reach the declarations.
#include "platform/win_api.h"

#include "platform/real/system_function.h"

#include <windows.h>
#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <userenv.h>

#include <cstring>

namespace win {
namespace {

using real::SystemFunction;

const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

::SECURITY_ATTRIBUTES* native(const SECURITY_ATTRIBUTES* security, ::SECURITY_ATTRIBUTES& out) {
    if (security == nullptr) return nullptr;
    out.nLength = sizeof(out);
    out.lpSecurityDescriptor = security->lpSecurityDescriptor;
    out.bInheritHandle = security->bInheritHandle;
    return &out;
}

FILETIME portable(const ::FILETIME& time) { return {time.dwLowDateTime, time.dwHighDateTime}; }

void copy_find_data(const ::WIN32_FIND_DATAW& from, WIN32_FIND_DATAW* to) {
    to->dwFileAttributes = from.dwFileAttributes;
    to->ftCreationTime = portable(from.ftCreationTime);
    to->ftLastAccessTime = portable(from.ftLastAccessTime);
    to->ftLastWriteTime = portable(from.ftLastWriteTime);
    to->nFileSizeHigh = from.nFileSizeHigh;
    to->nFileSizeLow = from.nFileSizeLow;
    to->dwReserved0 = from.dwReserved0;
    to->dwReserved1 = from.dwReserved1;
    static_assert(sizeof(from.cFileName) == sizeof(to->cFileName));
    static_assert(sizeof(from.cAlternateFileName) == sizeof(to->cAlternateFileName));
    std::memcpy(to->cFileName, from.cFileName, sizeof(to->cFileName));
    std::memcpy(to->cAlternateFileName, from.cAlternateFileName, sizeof(to->cAlternateFileName));
}

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(TOKEN_USER) == sizeof(::TOKEN_USER));
static_assert(sizeof(TOKEN_ELEVATION) == sizeof(::TOKEN_ELEVATION));
static_assert(sizeof(PROCESSENTRY32W) == sizeof(::PROCESSENTRY32W));

void copy_process_entry(const ::PROCESSENTRY32W& from, PROCESSENTRY32W* to) {
    to->dwSize = from.dwSize;
    to->cntUsage = from.cntUsage;
    to->th32ProcessID = from.th32ProcessID;
    to->th32DefaultHeapID = from.th32DefaultHeapID;
    to->th32ModuleID = from.th32ModuleID;
    to->cntThreads = from.cntThreads;
    to->th32ParentProcessID = from.th32ParentProcessID;
    to->pcPriClassBase = from.pcPriClassBase;
    to->dwFlags = from.dwFlags;
    static_assert(sizeof(from.szExeFile) == sizeof(to->szExeFile));
    std::memcpy(to->szExeFile, from.szExeFile, sizeof(to->szExeFile));
}

// Process32FirstW and Process32NextW take the caller's dwSize as given.
template <typename Walk>
BOOL walk_snapshot(Walk walk, HANDLE snapshot, PROCESSENTRY32W* entry) {
    ::PROCESSENTRY32W native_entry{};
    native_entry.dwSize = entry->dwSize;
    const BOOL ok = walk(snapshot, &native_entry);
    if (ok) copy_process_entry(native_entry, entry);
    return ok;
}

// Newer systems only: GetTempPath2W exists from Windows 11 and the 2022
// updates of Windows 10, ProcessPrng in bcryptprimitives.dll from Windows 10.
using TempPath2Function = ::DWORD(WINAPI*)(::DWORD, LPWSTR);
using ProcessPrngFunction = ::BOOL(WINAPI*)(PBYTE, SIZE_T);

// The predefined roots carry the same bits on both sides of the seam.
::HKEY native(HKEY key) { return reinterpret_cast<::HKEY>(key); }

// An optional DWORD out-parameter, through a native DWORD.
class OutDword {
public:
    explicit OutDword(DWORD* target) : target_(target), value_(target ? *target : 0) {}
    ~OutDword() {
        if (target_ != nullptr) *target_ = value_;
    }
    OutDword(const OutDword&) = delete;
    OutDword& operator=(const OutDword&) = delete;
    ::DWORD* get() { return target_ != nullptr ? &value_ : nullptr; }

private:
    DWORD* target_;
    ::DWORD value_;
};

}  // namespace

HANDLE CreateFileW(const char16_t* file_name, DWORD desired_access, DWORD share_mode,
                   const SECURITY_ATTRIBUTES* security, DWORD creation_disposition,
                   DWORD flags_and_attributes) {
    ::SECURITY_ATTRIBUTES attributes{};
    return ::CreateFileW(wide(file_name), desired_access, share_mode, native(security, attributes),
                         creation_disposition, flags_and_attributes, nullptr);
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
    ::BY_HANDLE_FILE_INFORMATION native_information{};
    const BOOL ok = ::GetFileInformationByHandle(file, &native_information);
    if (ok) {
        information->dwFileAttributes = native_information.dwFileAttributes;
        information->ftCreationTime = portable(native_information.ftCreationTime);
        information->ftLastAccessTime = portable(native_information.ftLastAccessTime);
        information->ftLastWriteTime = portable(native_information.ftLastWriteTime);
        information->dwVolumeSerialNumber = native_information.dwVolumeSerialNumber;
        information->nFileSizeHigh = native_information.nFileSizeHigh;
        information->nFileSizeLow = native_information.nFileSizeLow;
        information->nNumberOfLinks = native_information.nNumberOfLinks;
        information->nFileIndexHigh = native_information.nFileIndexHigh;
        information->nFileIndexLow = native_information.nFileIndexLow;
    }
    return ok;
}

HANDLE FindFirstFileExW(const char16_t* file_name, FINDEX_INFO_LEVELS info_level,
                        WIN32_FIND_DATAW* find_data, FINDEX_SEARCH_OPS search_op,
                        DWORD additional_flags) {
    ::WIN32_FIND_DATAW native_data{};
    HANDLE find = ::FindFirstFileExW(wide(file_name), static_cast<::FINDEX_INFO_LEVELS>(info_level),
                                     &native_data, static_cast<::FINDEX_SEARCH_OPS>(search_op),
                                     nullptr, additional_flags);
    if (find != INVALID_HANDLE_VALUE) copy_find_data(native_data, find_data);
    return find;
}

BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* find_data) {
    ::WIN32_FIND_DATAW native_data{};
    const BOOL ok = ::FindNextFileW(find, &native_data);
    if (ok) copy_find_data(native_data, find_data);
    return ok;
}

BOOL FindClose(HANDLE find) { return ::FindClose(find); }

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytes_to_read, DWORD* bytes_read) {
    ::DWORD read = 0;
    const BOOL ok = ::ReadFile(file, buffer, bytes_to_read, &read, nullptr);
    *bytes_read = read;
    return ok;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes_to_write, DWORD* bytes_written) {
    ::DWORD written = 0;
    const BOOL ok = ::WriteFile(file, buffer, bytes_to_write, &written, nullptr);
    *bytes_written = written;
    return ok;
}

BOOL FlushFileBuffers(HANDLE file) { return ::FlushFileBuffers(file); }

BOOL CreateDirectoryW(const char16_t* path, const SECURITY_ATTRIBUTES* security) {
    ::SECURITY_ATTRIBUTES attributes{};
    return ::CreateDirectoryW(wide(path), native(security, attributes));
}

BOOL RemoveDirectoryW(const char16_t* path) { return ::RemoveDirectoryW(wide(path)); }
BOOL DeleteFileW(const char16_t* path) { return ::DeleteFileW(wide(path)); }
BOOL SetFileAttributesW(const char16_t* path, DWORD attributes) {
    return ::SetFileAttributesW(wide(path), attributes);
}
BOOL MoveFileExW(const char16_t* existing, const char16_t* destination, DWORD flags) {
    return ::MoveFileExW(wide(existing), wide(destination), flags);
}
BOOL CloseHandle(HANDLE object) { return ::CloseHandle(object); }

// Information by handle. The classes are passed by their numbers: older SDK
// headers leave the Ex classes out of the enumeration.
static_assert(sizeof(FILE_BASIC_INFO) == sizeof(::FILE_BASIC_INFO));
static_assert(sizeof(FILE_STANDARD_INFO) == sizeof(::FILE_STANDARD_INFO));
static_assert(sizeof(FILE_ATTRIBUTE_TAG_INFO) == sizeof(::FILE_ATTRIBUTE_TAG_INFO));
static_assert(sizeof(FILE_DISPOSITION_INFO) == sizeof(::FILE_DISPOSITION_INFO));
static_assert(sizeof(FILE_END_OF_FILE_INFO) == sizeof(::FILE_END_OF_FILE_INFO));
static_assert(sizeof(FILE_DISPOSITION_INFO_EX) == sizeof(::DWORD));
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                  void* information, DWORD buffer_size) {
    return ::GetFileInformationByHandleEx(
        file, static_cast<::FILE_INFO_BY_HANDLE_CLASS>(information_class), information,
        buffer_size);
}
BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                void* information, DWORD buffer_size) {
    return ::SetFileInformationByHandle(
        file, static_cast<::FILE_INFO_BY_HANDLE_CLASS>(information_class), information,
        buffer_size);
}

const char16_t* GetCommandLineW() {
    return reinterpret_cast<const char16_t*>(::GetCommandLineW());
}
HANDLE GetStdHandle(DWORD std_handle) { return ::GetStdHandle(std_handle); }
BOOL GetConsoleMode(HANDLE console, DWORD* mode) {
    ::DWORD native_mode = 0;
    const BOOL ok = ::GetConsoleMode(console, &native_mode);
    *mode = native_mode;
    return ok;
}
UINT GetConsoleOutputCP() { return ::GetConsoleOutputCP(); }
BOOL WriteConsoleW(HANDLE console, const char16_t* buffer, DWORD chars_to_write,
                   DWORD* chars_written) {
    ::DWORD written = 0;
    const BOOL ok = ::WriteConsoleW(console, buffer, chars_to_write, &written, nullptr);
    *chars_written = written;
    return ok;
}
HANDLE GetCurrentProcess() { return ::GetCurrentProcess(); }

BOOL OpenProcessToken(HANDLE process, DWORD desired_access, HANDLE* token) {
    return ::OpenProcessToken(process, desired_access, token);
}
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                         void* information, DWORD length, DWORD* return_length) {
    ::DWORD needed = 0;
    const BOOL ok = ::GetTokenInformation(
        token, static_cast<::TOKEN_INFORMATION_CLASS>(information_class), information, length,
        &needed);
    *return_length = needed;
    return ok;
}
BOOL ConvertSidToStringSidW(PSID sid, char16_t** string_sid) {
    return ::ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(string_sid));
}
BOOL ConvertStringSidToSidW(const char16_t* string_sid, PSID* sid) {
    return ::ConvertStringSidToSidW(wide(string_sid), sid);
}
BOOL IsValidSid(PSID sid) { return ::IsValidSid(sid); }
HLOCAL LocalFree(HLOCAL memory) { return ::LocalFree(memory); }

DWORD GetLastError() { return ::GetLastError(); }
DWORD FormatMessageW(DWORD flags, const void* source, DWORD message_id, DWORD language_id,
                     char16_t* buffer, DWORD size) {
    return ::FormatMessageW(flags, source, message_id, language_id, wide(buffer), size, nullptr);
}
HMODULE GetModuleHandleW(const char16_t* module_name) {
    return ::GetModuleHandleW(wide(module_name));
}
int CompareStringOrdinal(const char16_t* string1, int count1, const char16_t* string2, int count2,
                         BOOL ignore_case) {
    return ::CompareStringOrdinal(wide(string1), count1, wide(string2), count2, ignore_case);
}

HWND GetShellWindow() {
    static const SystemFunction<decltype(&::GetShellWindow)> function(L"user32.dll",
                                                                       "GetShellWindow");
    return reinterpret_cast<HWND>(function.call_or(nullptr));
}
DWORD GetWindowThreadProcessId(HWND window, DWORD* process_id) {
    static const SystemFunction<decltype(&::GetWindowThreadProcessId)> function(
        L"user32.dll", "GetWindowThreadProcessId");
    ::DWORD owner = 0;
    const ::DWORD thread = function.call_or(0, reinterpret_cast<::HWND>(window), &owner);
    if (process_id != nullptr) *process_id = owner;
    return thread;
}
BOOL CreateEnvironmentBlock(void** environment, HANDLE token, BOOL inherit) {
    static const SystemFunction<decltype(&::CreateEnvironmentBlock)> function(
        L"userenv.dll", "CreateEnvironmentBlock");
    return function.call_or(FALSE, environment, token, inherit);
}
BOOL DestroyEnvironmentBlock(void* environment) {
    static const SystemFunction<decltype(&::DestroyEnvironmentBlock)> function(
        L"userenv.dll", "DestroyEnvironmentBlock");
    return function.call_or(FALSE, environment);
}
DWORD GetTempPathW(DWORD buffer_length, char16_t* buffer) {
    return ::GetTempPathW(buffer_length, wide(buffer));
}
DWORD GetEnvironmentVariableW(const char16_t* name, char16_t* buffer, DWORD size) {
    return ::GetEnvironmentVariableW(wide(name), wide(buffer), size);
}
void SetLastError(DWORD error) { ::SetLastError(error); }

DWORD GetTempPath2W(DWORD buffer_length, char16_t* buffer) {
    static const SystemFunction<TempPath2Function> function(L"kernel32.dll", "GetTempPath2W");
    const TempPath2Function get_temp_path2 = function.get();
    if (get_temp_path2 == nullptr) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    return get_temp_path2(buffer_length, wide(buffer));
}

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD process_id) {
    return ::CreateToolhelp32Snapshot(flags, process_id);
}
BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) {
    return walk_snapshot(::Process32FirstW, snapshot, entry);
}
BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) {
    return walk_snapshot(::Process32NextW, snapshot, entry);
}
HANDLE OpenProcess(DWORD desired_access, BOOL inherit_handle, DWORD process_id) {
    return ::OpenProcess(desired_access, inherit_handle, process_id);
}
BOOL QueryFullProcessImageNameW(HANDLE process, DWORD flags, char16_t* name, DWORD* size) {
    ::DWORD length = *size;
    const BOOL ok = ::QueryFullProcessImageNameW(process, flags, wide(name), &length);
    *size = length;
    return ok;
}
BOOL TerminateProcess(HANDLE process, UINT exit_code) {
    return ::TerminateProcess(process, exit_code);
}
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return ::WaitForSingleObject(object, milliseconds);
}

BOOL ProcessPrng(std::uint8_t* data, std::size_t length) {
    static const SystemFunction<ProcessPrngFunction> function(L"bcryptprimitives.dll",
                                                              "ProcessPrng");
    const ProcessPrngFunction process_prng = function.get();
    if (process_prng == nullptr) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return process_prng(data, length);
}

NTSTATUS BCryptGenRandom(void* algorithm, std::uint8_t* buffer, std::uint32_t length, DWORD flags) {
    static const SystemFunction<decltype(&::BCryptGenRandom)> function(L"bcrypt.dll",
                                                                        "BCryptGenRandom");
    const auto generate = function.get();
    if (generate == nullptr)
        return static_cast<NTSTATUS>(function.library_missing() ? STATUS_DLL_NOT_FOUND
                                                                : STATUS_ENTRYPOINT_NOT_FOUND);
    return generate(static_cast<::BCRYPT_ALG_HANDLE>(algorithm), buffer, length, flags);
}

LONG RegOpenKeyExW(HKEY key, const char16_t* sub_key, DWORD options, REGSAM desired,
                   HKEY* result) {
    ::HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyExW(native(key), wide(sub_key), options, desired, &opened);
    *result = reinterpret_cast<HKEY>(opened);
    return status;
}
LONG RegCreateKeyExW(HKEY key, const char16_t* sub_key, DWORD options, REGSAM desired,
                     HKEY* result, DWORD* disposition) {
    ::HKEY created = nullptr;
    OutDword out_disposition(disposition);
    const LONG status = ::RegCreateKeyExW(native(key), wide(sub_key), 0, nullptr, options, desired,
                                          nullptr, &created, out_disposition.get());
    *result = reinterpret_cast<HKEY>(created);
    return status;
}
LONG RegQueryValueExW(HKEY key, const char16_t* value_name, DWORD* type, std::uint8_t* data,
                      DWORD* data_size) {
    OutDword out_type(type);
    OutDword out_size(data_size);
    return ::RegQueryValueExW(native(key), wide(value_name), nullptr, out_type.get(), data,
                              out_size.get());
}
LONG RegEnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* name_length) {
    OutDword out_length(name_length);
    return ::RegEnumValueW(native(key), index, wide(name), out_length.get(), nullptr, nullptr,
                           nullptr, nullptr);
}
LONG RegQueryInfoKeyW(HKEY key, DWORD* sub_keys) {
    OutDword out_sub_keys(sub_keys);
    return ::RegQueryInfoKeyW(native(key), nullptr, nullptr, nullptr, out_sub_keys.get(), nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}
LONG RegSetValueExW(HKEY key, const char16_t* value_name, DWORD type, const std::uint8_t* data,
                    DWORD data_size) {
    return ::RegSetValueExW(native(key), wide(value_name), 0, type, data, data_size);
}
LONG RegDeleteValueW(HKEY key, const char16_t* value_name) {
    return ::RegDeleteValueW(native(key), wide(value_name));
}
LONG RegDeleteKeyExW(HKEY key, const char16_t* sub_key, REGSAM desired) {
    return ::RegDeleteKeyExW(native(key), wide(sub_key), desired, 0);
}
LONG RegFlushKey(HKEY key) { return ::RegFlushKey(native(key)); }
LONG RegCloseKey(HKEY key) { return ::RegCloseKey(native(key)); }

}  // namespace win

// Security descriptors.
namespace win {

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(const char16_t* string_descriptor,
                                                          DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          ULONG* size) {
    ::ULONG native_size = 0;
    const BOOL ok = ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        wide(string_descriptor), revision, descriptor, size != nullptr ? &native_size : nullptr);
    if (ok && size != nullptr) *size = native_size;
    return ok;
}

}  // namespace win

// Owners.
namespace win {

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE object_type, DWORD security_information,
                      PSID* owner, PSECURITY_DESCRIPTOR* descriptor) {
    return ::GetSecurityInfo(handle, static_cast<::SE_OBJECT_TYPE>(object_type),
                             security_information, owner, nullptr, nullptr, nullptr, descriptor);
}

}  // namespace win
