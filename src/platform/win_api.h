// The seam: every call the helper makes into Windows goes through these
// functions. They carry the Windows names, argument meanings, results and
// last-error codes, spelt with portable types. Two implementations exist:
// real/real_win_api.cpp passes straight through to Windows, and
// simulated/ models a Windows machine for host tests.
//
// Parameters that the helper always passes as null (overlapped structures,
// template files, variadic insert arguments) are left out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace win {

using DWORD = std::uint32_t;
using BOOL = std::int32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using ULONG_PTR = std::uint64_t;
using HANDLE = void*;
using HMODULE = void*;
using HLOCAL = void*;
using PSID = void*;
struct HWND__;
using HWND = HWND__*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

// Error codes (the last-error value).
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_DRIVE = 15;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_NOT_READY = 21;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_BAD_NETPATH = 53;
inline constexpr DWORD ERROR_BAD_NET_NAME = 67;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
inline constexpr DWORD ERROR_INVALID_SID = 1337;
inline constexpr DWORD ERROR_CANT_ACCESS_FILE = 1920;
inline constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

// File access, sharing, creation and flags.
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD DELETE = 0x00010000;
inline constexpr DWORD FILE_READ_ATTRIBUTES = 0x0080;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
inline constexpr DWORD FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;
inline constexpr DWORD IO_REPARSE_TAG_MOUNT_POINT = 0xA0000003;
inline constexpr DWORD IO_REPARSE_TAG_SYMLINK = 0xA000000C;

struct FILETIME {
    DWORD dwLowDateTime = 0;
    DWORD dwHighDateTime = 0;
};

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes = 0;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber = 0;
    DWORD nFileSizeHigh = 0;
    DWORD nFileSizeLow = 0;
    DWORD nNumberOfLinks = 0;
    DWORD nFileIndexHigh = 0;
    DWORD nFileIndexLow = 0;
};

inline constexpr std::size_t MAX_PATH = 260;

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes = 0;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh = 0;
    DWORD nFileSizeLow = 0;
    DWORD dwReserved0 = 0;  // the reparse tag when the entry is a reparse point
    DWORD dwReserved1 = 0;
    char16_t cFileName[MAX_PATH] = {};
    char16_t cAlternateFileName[14] = {};
};

enum FINDEX_INFO_LEVELS : int { FindExInfoStandard = 0, FindExInfoBasic = 1 };
enum FINDEX_SEARCH_OPS : int { FindExSearchNameMatch = 0 };

struct SECURITY_ATTRIBUTES {
    DWORD nLength = 24;
    void* lpSecurityDescriptor = nullptr;
    BOOL bInheritHandle = FALSE;
};

HANDLE CreateFileW(const char16_t* file_name, DWORD desired_access, DWORD share_mode,
                   const SECURITY_ATTRIBUTES* security, DWORD creation_disposition,
                   DWORD flags_and_attributes);
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
HANDLE FindFirstFileExW(const char16_t* file_name, FINDEX_INFO_LEVELS info_level,
                        WIN32_FIND_DATAW* find_data, FINDEX_SEARCH_OPS search_op,
                        DWORD additional_flags);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* find_data);
BOOL FindClose(HANDLE find);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytes_to_read, DWORD* bytes_read);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes_to_write, DWORD* bytes_written);
BOOL FlushFileBuffers(HANDLE file);
BOOL CreateDirectoryW(const char16_t* path, const SECURITY_ATTRIBUTES* security);
BOOL RemoveDirectoryW(const char16_t* path);
BOOL DeleteFileW(const char16_t* path);
BOOL SetFileAttributesW(const char16_t* path, DWORD attributes);
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;
BOOL MoveFileExW(const char16_t* existing, const char16_t* destination, DWORD flags);
BOOL CloseHandle(HANDLE object);

// Information read and set through a handle, by the documented class
// numbers (older SDK headers leave the Ex classes out).
enum FILE_INFO_BY_HANDLE_CLASS : int {
    FileBasicInfo = 0,
    FileStandardInfo = 1,
    FileDispositionInfo = 4,
    FileEndOfFileInfo = 6,
    FileAttributeTagInfo = 9,
    FileDispositionInfoEx = 21,
};
inline constexpr DWORD FILE_WRITE_ATTRIBUTES = 0x0100;
inline constexpr DWORD FILE_LIST_DIRECTORY = 0x0001;
// Times of 0 in a FILE_BASIC_INFO that is set leave those times unchanged.
struct FILE_BASIC_INFO {
    std::int64_t CreationTime = 0;
    std::int64_t LastAccessTime = 0;
    std::int64_t LastWriteTime = 0;
    std::int64_t ChangeTime = 0;
    DWORD FileAttributes = 0;
};
struct FILE_STANDARD_INFO {
    std::int64_t AllocationSize = 0;
    std::int64_t EndOfFile = 0;
    DWORD NumberOfLinks = 0;
    std::uint8_t DeletePending = 0;
    std::uint8_t Directory = 0;
};
struct FILE_ATTRIBUTE_TAG_INFO {
    DWORD FileAttributes = 0;
    DWORD ReparseTag = 0;
};
// A plain delete: the name goes when the last handle to the file closes.
struct FILE_DISPOSITION_INFO {
    std::uint8_t DeleteFile = 0;
};
struct FILE_END_OF_FILE_INFO {
    std::int64_t EndOfFile = 0;
};
struct FILE_DISPOSITION_INFO_EX {
    DWORD Flags = 0;
};
inline constexpr DWORD FILE_DISPOSITION_FLAG_DO_NOT_DELETE = 0x00;
inline constexpr DWORD FILE_DISPOSITION_FLAG_DELETE = 0x01;
inline constexpr DWORD FILE_DISPOSITION_FLAG_POSIX_SEMANTICS = 0x02;
inline constexpr DWORD FILE_DISPOSITION_FLAG_FORCE_IMAGE_SECTION_CHECK = 0x04;
inline constexpr DWORD FILE_DISPOSITION_FLAG_ON_CLOSE = 0x08;
inline constexpr DWORD FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE = 0x10;
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                  void* information, DWORD buffer_size);
BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                void* information, DWORD buffer_size);

// Process start and end.
inline constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
inline constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);
inline constexpr UINT CP_UTF8 = 65001;
const char16_t* GetCommandLineW();
HANDLE GetStdHandle(DWORD std_handle);
BOOL GetConsoleMode(HANDLE console, DWORD* mode);
UINT GetConsoleOutputCP();
BOOL WriteConsoleW(HANDLE console, const char16_t* buffer, DWORD chars_to_write,
                   DWORD* chars_written);
HANDLE GetCurrentProcess();

// Accounts and security.
inline constexpr DWORD TOKEN_DUPLICATE = 0x0002;
inline constexpr DWORD TOKEN_QUERY = 0x0008;
enum TOKEN_INFORMATION_CLASS : int { TokenUser = 1, TokenElevation = 20 };

struct SID_AND_ATTRIBUTES {
    PSID Sid = nullptr;
    DWORD Attributes = 0;
};
struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};
struct TOKEN_ELEVATION {
    DWORD TokenIsElevated = 0;
};

BOOL OpenProcessToken(HANDLE process, DWORD desired_access, HANDLE* token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                         void* information, DWORD length, DWORD* return_length);
BOOL ConvertSidToStringSidW(PSID sid, char16_t** string_sid);
BOOL ConvertStringSidToSidW(const char16_t* string_sid, PSID* sid);
BOOL IsValidSid(PSID sid);
HLOCAL LocalFree(HLOCAL memory);

// Text and errors.
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
DWORD GetLastError();
DWORD FormatMessageW(DWORD flags, const void* source, DWORD message_id, DWORD language_id,
                     char16_t* buffer, DWORD size);
HMODULE GetModuleHandleW(const char16_t* module_name);

inline constexpr int CSTR_LESS_THAN = 1;
inline constexpr int CSTR_EQUAL = 2;
inline constexpr int CSTR_GREATER_THAN = 3;
int CompareStringOrdinal(const char16_t* string1, int count1, const char16_t* string2, int count2,
                         BOOL ignore_case);

// Desktop shell and user environment. USER32's and USERENV's functions are
// loaded from System32 on their first call; where the library or function
// cannot be had, each fails as it reports failures of its own, with the
// loader's error (LoadLibraryExW's or GetProcAddress's) as the last error.
inline constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
HWND GetShellWindow();
// The id of the thread that created the window (0 on failure); the owning
// process id goes to `process_id` when it is not null.
DWORD GetWindowThreadProcessId(HWND window, DWORD* process_id);
// A block of NUL-terminated UTF-16 "NAME=value" entries ending with an empty
// one, released with DestroyEnvironmentBlock.
BOOL CreateEnvironmentBlock(void** environment, HANDLE token, BOOL inherit);
BOOL DestroyEnvironmentBlock(void* environment);
// Both answer the length without the terminator when the path fits, the size
// needed (terminator included) when it does not, and 0 on failure.
DWORD GetTempPathW(DWORD buffer_length, char16_t* buffer);
// The helper's own environment: the value's length without the terminator
// when it fits, the size needed (terminator included) when it does not, and
// 0 with ERROR_ENVVAR_NOT_FOUND for a variable that is not set. An empty
// variable also answers 0, with the last error left as it was.
inline constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;
DWORD GetEnvironmentVariableW(const char16_t* name, char16_t* buffer, DWORD size);
void SetLastError(DWORD error);
// Newer systems only: where the system lacks it, this fails with
// ERROR_CALL_NOT_IMPLEMENTED and writes nothing.
DWORD GetTempPath2W(DWORD buffer_length, char16_t* buffer);

// Processes.
inline constexpr DWORD SYNCHRONIZE = 0x00100000;
inline constexpr DWORD PROCESS_TERMINATE = 0x0001;
inline constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
inline constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
inline constexpr DWORD TH32CS_SNAPPROCESS = 0x00000002;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD INFINITE = 0xFFFFFFFF;

// The layout of the 64-bit PROCESSENTRY32W, so that dwSize means the same.
struct PROCESSENTRY32W {
    DWORD dwSize = 0;
    DWORD cntUsage = 0;
    DWORD th32ProcessID = 0;
    ULONG_PTR th32DefaultHeapID = 0;
    DWORD th32ModuleID = 0;
    DWORD cntThreads = 0;
    DWORD th32ParentProcessID = 0;
    LONG pcPriClassBase = 0;
    DWORD dwFlags = 0;
    char16_t szExeFile[MAX_PATH] = {};
};
static_assert(sizeof(PROCESSENTRY32W) == 568);

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD process_id);
BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry);
BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry);
HANDLE OpenProcess(DWORD desired_access, BOOL inherit_handle, DWORD process_id);
// `size` holds the buffer's length in UTF-16 units and receives the path's
// length without the terminator.
BOOL QueryFullProcessImageNameW(HANDLE process, DWORD flags, char16_t* name, DWORD* size);
BOOL TerminateProcess(HANDLE process, UINT exit_code);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

// Registry. These functions return the status (ERROR_SUCCESS or a Windows
// error code) and leave the last error alone.
struct HKEY__;
using HKEY = HKEY__*;
using REGSAM = DWORD;

// The predefined roots, as <windows.h> spells them on 64-bit Windows: a
// sign-extended 32-bit value. They are never opened or closed.
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000002u)));
inline HKEY const HKEY_USERS =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000003u)));

inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_KEY_DELETED = 1018;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ =
    READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
inline constexpr REGSAM KEY_WRITE = READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0;
inline constexpr DWORD REG_OPTION_CREATE_LINK = 0x2;
inline constexpr DWORD REG_OPTION_OPEN_LINK = 0x8;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
// The type of a link key's "SymbolicLinkValue": the target's absolute
// registry path ("\Registry\Machine\...", "\Registry\User\..."), UTF-16
// without a terminating NUL.
inline constexpr DWORD REG_LINK = 6;

// A new handle in `result` on success (for an empty `sub_key` under a
// predefined root, that root itself); `options` 0 or REG_OPTION_OPEN_LINK,
// which opens a link key itself instead of its target.
LONG RegOpenKeyExW(HKEY key, const char16_t* sub_key, DWORD options, REGSAM desired,
                   HKEY* result);
// Opens `sub_key`, creating it and any missing key on its way; `disposition`
// tells REG_CREATED_NEW_KEY from REG_OPENED_EXISTING_KEY. No class, no
// security attributes. With REG_OPTION_OPEN_LINK an existing link at the
// last component is opened itself, not followed.
LONG RegCreateKeyExW(HKEY key, const char16_t* sub_key, DWORD options, REGSAM desired,
                     HKEY* result, DWORD* disposition);
// Null `data` with a `data_size` asks for the size only. A buffer that is
// too small gives ERROR_MORE_DATA with the size needed in `data_size`.
LONG RegQueryValueExW(HKEY key, const char16_t* value_name, DWORD* type, std::uint8_t* data,
                      DWORD* data_size);
// The name of the value at `index`: `name_length` holds the buffer's length
// in UTF-16 units (room for the NUL included) and receives the name's length
// without it. Past the last value: ERROR_NO_MORE_ITEMS.
LONG RegEnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* name_length);
// The number of subkeys.
LONG RegQueryInfoKeyW(HKEY key, DWORD* sub_keys);
LONG RegSetValueExW(HKEY key, const char16_t* value_name, DWORD type, const std::uint8_t* data,
                    DWORD data_size);
LONG RegDeleteValueW(HKEY key, const char16_t* value_name);
// Deletes a subkey that has no subkeys of its own; `desired` names the view
// (KEY_WOW64_64KEY). A link at `sub_key` is followed: its target goes. An
// empty `sub_key` deletes the key `key` itself, the one the handle holds.
LONG RegDeleteKeyExW(HKEY key, const char16_t* sub_key, REGSAM desired);
LONG RegFlushKey(HKEY key);
LONG RegCloseKey(HKEY key);

}  // namespace win

// Random bytes.
namespace win {
using NTSTATUS = std::int32_t;
inline constexpr NTSTATUS STATUS_SUCCESS = 0;
inline constexpr DWORD BCRYPT_USE_SYSTEM_PREFERRED_RNG = 0x00000002;
// bcryptprimitives' generator, from Windows 10 on; always succeeds there.
// Where the system lacks it (older Windows, Wine 8), this fails with
// ERROR_CALL_NOT_IMPLEMENTED and writes nothing.
BOOL ProcessPrng(std::uint8_t* data, std::size_t length);
// With no algorithm handle and BCRYPT_USE_SYSTEM_PREFERRED_RNG. Answers an
// NTSTATUS and leaves the last error alone; loaded from System32 on the first
// call, it answers STATUS_DLL_NOT_FOUND (0xC0000135) where bcrypt.dll cannot
// be loaded and STATUS_ENTRYPOINT_NOT_FOUND (0xC0000139) where it lacks the
// function.
NTSTATUS BCryptGenRandom(void* algorithm, std::uint8_t* buffer, std::uint32_t length, DWORD flags);
}  // namespace win

// Security descriptors. The converter's descriptor is self-relative and is
// released with LocalFree.
namespace win {

using ULONG = std::uint32_t;
using PSECURITY_DESCRIPTOR = void*;

inline constexpr DWORD SDDL_REVISION_1 = 1;
inline constexpr DWORD ERROR_UNKNOWN_REVISION = 1305;
inline constexpr DWORD ERROR_INVALID_ACL = 1336;
inline constexpr DWORD ERROR_INVALID_SECURITY_DESCR = 1338;

// `size`, when not null, receives the descriptor's length in bytes.
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(const char16_t* string_descriptor,
                                                          DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          ULONG* size);

// The owner of the object behind a handle. `owner` points into
// `descriptor`, which is released with LocalFree. Answers a Windows error
// code (ERROR_SUCCESS on success) and leaves the last error alone.
enum SE_OBJECT_TYPE : int { SE_FILE_OBJECT = 1 };
inline constexpr DWORD OWNER_SECURITY_INFORMATION = 0x00000001;
DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE object_type, DWORD security_information,
                      PSID* owner, PSECURITY_DESCRIPTOR* descriptor);

}  // namespace win
