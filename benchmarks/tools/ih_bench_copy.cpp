// ih-bench-copy: the two baselines for begin's backup copies.
//
//   ih-bench-copy.exe loop|copyfile DIRECTORY FILE...
//
// Copies each FILE into DIRECTORY under its own name, each copy a new file
// flushed before the next one starts. loop: ReadFile and WriteFile through
// one 8 KiB buffer, then FlushFileBuffers, as the helper copies. copyfile:
// CopyFileW, then FlushFileBuffers through a handle to the copy.
#include "tool_support.h"

#include <cstdio>
#include <string>

namespace {

constexpr const char* tool = "ih-bench-copy";

bool flush(const std::wstring& path) {
    const tools::Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.get());
}

bool copy_loop(const std::wstring& from, const std::wstring& to) {
    const tools::Handle source(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    const tools::Handle copy(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source || !copy) return false;
    char buffer[8192];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source.get(), buffer, sizeof buffer, &read, nullptr)) return false;
        if (read == 0) break;
        DWORD written = 0;
        if (!WriteFile(copy.get(), buffer, read, &written, nullptr) || written != read)
            return false;
    }
    return FlushFileBuffers(copy.get()) != 0;
}

bool copy_file(const std::wstring& from, const std::wstring& to) {
    return CopyFileW(from.c_str(), to.c_str(), TRUE) && flush(to);
}

std::wstring name_of(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (argc < 4 || (mode != L"loop" && mode != L"copyfile")) {
        std::fprintf(stderr, "usage: ih-bench-copy.exe loop|copyfile DIRECTORY FILE...\n");
        return tools::tool_failure;
    }
    const std::wstring directory = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::wstring to = directory + L"\\" + name_of(argv[i]);
        if (!(mode == L"loop" ? copy_loop(argv[i], to) : copy_file(argv[i], to))) {
            std::fprintf(stderr, "%s: cannot copy a file (Windows error %lu)\n", tool,
                         GetLastError());
            return 1;
        }
    }
    return 0;
}
