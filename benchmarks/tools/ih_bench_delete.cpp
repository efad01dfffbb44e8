// ih-bench-delete: the two baselines for commit's cleanup.
//
//   ih-bench-delete.exe plain|safe PATH...
//
// Deletes each PATH, a file or a whole tree; a missing one is skipped.
// plain: the ordinary recursive delete, FindFirstFileW, DeleteFileW and
// RemoveDirectoryW by name. safe: the floor for a delete that follows no
// link: every entry is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT),
// checked through that handle to be no reparse point, listed through it if
// it is a directory (FileFullDirectoryInfo), and deleted through it
// (FileDispositionInfo). Exits 1 at a reparse point or at the first failure.
#include "tool_support.h"

#include <cstdio>
#include <string>

namespace {

constexpr const char* tool = "ih-bench-delete";

template <typename Visit>
bool for_each_child(const std::wstring& directory, Visit visit) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        ok = visit(directory + L"\\" + name, found.dwFileAttributes);
    } while (ok && FindNextFileW(search, &found));
    FindClose(search);
    return ok;
}

bool delete_plain(const std::wstring& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return DeleteFileW(path.c_str()) != 0;
    return for_each_child(path, delete_plain) && RemoveDirectoryW(path.c_str()) != 0;
}

// Every name in the directory but "." and "..", read through its handle.
template <typename Visit>
bool for_each_listed(HANDLE directory, const std::wstring& path, Visit visit) {
    alignas(8) unsigned char buffer[65536];
    for (;;) {
        if (!GetFileInformationByHandleEx(directory, FileFullDirectoryInfo, buffer,
                                          sizeof buffer))
            return GetLastError() == ERROR_NO_MORE_FILES;
        for (auto* entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(buffer);;
             entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(
                 reinterpret_cast<unsigned char*>(entry) + entry->NextEntryOffset)) {
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L".." && !visit(path + L"\\" + name, 0)) return false;
            if (entry->NextEntryOffset == 0) break;
        }
    }
}

bool delete_safe(const std::wstring& path, DWORD) {
    const tools::Handle entry(CreateFileW(
        path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!entry) return false;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(entry.get(), FileAttributeTagInfo, &tag, sizeof tag))
        return false;
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        !for_each_listed(entry.get(), path, delete_safe))
        return false;
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(entry.get(), FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (argc < 3 || (mode != L"plain" && mode != L"safe")) {
        std::fprintf(stderr, "usage: ih-bench-delete.exe plain|safe PATH...\n");
        return tools::tool_failure;
    }
    for (int i = 2; i < argc; ++i) {
        const DWORD attributes = GetFileAttributesW(argv[i]);
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        const bool deleted =
            mode == L"plain" ? delete_plain(argv[i], attributes) : delete_safe(argv[i], attributes);
        if (!deleted) {
            std::fprintf(stderr, "%s: cannot delete an entry (Windows error %lu)\n", tool,
                         GetLastError());
            return 1;
        }
    }
    return 0;
}
