// ih-bench-calls: what single Windows calls cost here, averaged over many
// repetitions, so that a census of the calls an action makes (call_census
// of the host build) adds up to where its time goes.
//
//   ih-bench-calls.exe DIRECTORY [REPETITIONS]
//
// Works inside DIRECTORY, an empty directory it may fill. Prints one line
// per operation: "<microseconds per repetition> <operation>".
#include "tool_support.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr const char* tool = "ih-bench-calls";

double now_microseconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1e6 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Operation>
void measure(const char* what, int repetitions, Operation operation) {
    const double begin = now_microseconds();
    for (int i = 0; i < repetitions; ++i)
        if (!operation(i)) tools::fail_tool(tool, what);
    std::printf("%9.1f  %s\n", (now_microseconds() - begin) / repetitions, what);
}

HANDLE open_as_itself(const std::wstring& path, DWORD access) {
    return CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                       nullptr);
}

bool inspect(const std::wstring& path) {
    const tools::Handle entry(open_as_itself(path, 0));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return entry &&
           GetFileInformationByHandleEx(entry.get(), FileAttributeTagInfo, &tag, sizeof tag);
}

bool write_flushed(const std::wstring& path, bool flush) {
    const tools::Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string bytes(2048, 'j');
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), 2048, &written, nullptr) &&
           (!flush || FlushFileBuffers(file.get()));
}

bool snapshot_walk() {
    const tools::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!snapshot) return false;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
    }
    return true;
}

bool registry_read() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    RegQueryValueExW(key, L"Version", nullptr, nullptr, nullptr, &size);
    RegCloseKey(key);
    return true;
}

bool registry_flush() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    const bool flushed = RegFlushKey(key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return flushed;
}

bool list(const std::wstring& directory) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW((directory + L"\\*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return false;
    while (FindNextFileW(search, &found)) {
    }
    FindClose(search);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ih-bench-calls.exe DIRECTORY [REPETITIONS]\n");
        return tools::tool_failure;
    }
    const std::wstring directory = argv[1];
    const int repetitions = argc > 2 ? static_cast<int>(std::wcstol(argv[2], nullptr, 10)) : 200;
    const std::wstring journal = directory + L"\\journal.json";
    const std::wstring fresh = directory + L"\\journal.new";
    if (!write_flushed(journal, false)) tools::fail_tool(tool, "cannot write in DIRECTORY");

    measure("open as itself + FileAttributeTagInfo + close (a directory)", repetitions,
            [&](int) { return inspect(directory); });
    measure("open as itself + FileAttributeTagInfo + close (a file)", repetitions,
            [&](int) { return inspect(journal); });
    measure("GetFileAttributesW", repetitions, [&](int) {
        return GetFileAttributesW(journal.c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    measure("FindFirstFileExW + FindNextFileW + FindClose (2 entries)", repetitions,
            [&](int) { return list(directory); });
    measure("RegOpenKeyExW + RegQueryValueExW + RegCloseKey", repetitions,
            [](int) { return registry_read(); });
    measure("RegOpenKeyExW + RegFlushKey + RegCloseKey", repetitions / 10 + 1,
            [](int) { return registry_flush(); });
    measure("CreateToolhelp32Snapshot + Process32FirstW/NextW walk + close", repetitions / 4 + 1,
            [](int) { return snapshot_walk(); });
    measure("journal write without flush: create, 2 KiB, close, MoveFileExW", repetitions / 4 + 1,
            [&](int) {
                return write_flushed(fresh, false) &&
                       MoveFileExW(fresh.c_str(), journal.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            });
    measure("journal write: create, 2 KiB, FlushFileBuffers, close, MoveFileExW",
            repetitions / 4 + 1, [&](int) {
                return write_flushed(fresh, true) &&
                       MoveFileExW(fresh.c_str(), journal.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            });
    DeleteFileW(journal.c_str());
    return 0;
}
