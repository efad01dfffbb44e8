// ih-probe: tells, on standard output, what a process sees of Windows. The
// end-to-end tests run it through ih-run to check the runner's options and to
// learn what Wine answers where it differs from Windows.
//
//   ih-probe.exe elevation          "elevated=<0|1>"
//   ih-probe.exe shell              "window=<handle> process=<id>" of GetShellWindow
//   ih-probe.exe messages CODE...   one "CODE<tab>description" line per Windows error
//   ih-probe.exe manifest PATH      the bytes of PATH's application manifest resource
//   ih-probe.exe version PATH       "Name=value" lines of PATH's version resource
//   ih-probe.exe reparse DIR        tries a directory symbolic link and a junction
//                                   in DIR; "symlink=<attributes> junction=<attributes>"
//                                   of what exists afterwards ("missing" for nothing)
//   ih-probe.exe export DLL NAME    "present" or "missing": whether DLL exports NAME
//   ih-probe.exe command-line ...   its own command line, as WTF-8 bytes
//   ih-probe.exe temp               its own temporary directory, as GetTempPathW gives it
//   ih-probe.exe replace-read-only DIR
//                                   makes DIR\new and a read-only DIR\old, moves the
//                                   first over the second with MoveFileExW(REPLACE_EXISTING |
//                                   WRITE_THROUGH): "replaced" or "refused <error>"
//   ih-probe.exe list-held DIR      holds DIR open with DELETE access, sharing read and
//                                   write, and lists it: "listed" or "refused <error>"
//   ih-probe.exe exit N             nothing; exits with status N
#include "tool_support.h"

#include <winioctl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr const char* tool = "ih-probe";

void print(std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void elevation() {
    tools::Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        tools::fail_tool(tool, "OpenProcessToken failed");
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
        tools::fail_tool(tool, "GetTokenInformation(TokenElevation) failed");
    std::printf("elevated=%lu\n", static_cast<unsigned long>(elevation.TokenIsElevated));
}

void shell() {
    const HWND window = GetShellWindow();
    DWORD process = 0;
    if (window != nullptr) GetWindowThreadProcessId(window, &process);
    std::printf("window=%llu process=%lu\n",
                static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)),
                static_cast<unsigned long>(process));
}

// The description as the helper builds it: the system's text without the
// trailing line break.
void messages(int count, wchar_t** codes) {
    for (int i = 0; i < count; ++i) {
        const DWORD code = static_cast<DWORD>(std::wcstoul(codes[i], nullptr, 10));
        wchar_t buffer[2048] = {};
        DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, buffer, 2048, nullptr);
        while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                              buffer[length - 1] == L' '))
            --length;
        std::printf("%lu\t", static_cast<unsigned long>(code));
        print(tools::narrow_wtf8(std::wstring_view(buffer, length)));
        std::printf("\n");
    }
}

void manifest(const wchar_t* path) {
    const HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) tools::fail_tool(tool, "LoadLibraryExW failed");
    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    if (resource == nullptr) tools::fail_tool(tool, "no manifest resource 1");
    const HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) tools::fail_tool(tool, "LoadResource failed");
    print(std::string_view(static_cast<const char*>(data), SizeofResource(module, resource)));
    FreeLibrary(module);
}

void version(const wchar_t* path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) tools::fail_tool(tool, "no version resource");
    std::string data(size, '\0');
    if (!GetFileVersionInfoW(path, 0, size, data.data()))
        tools::fail_tool(tool, "GetFileVersionInfoW failed");
    for (const wchar_t* name : {L"CompanyName", L"FileDescription", L"FileVersion",
                                L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data.data(), query.c_str(), &value, &length) || length == 0) continue;
        std::wstring_view text(static_cast<const wchar_t*>(value), length);
        while (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
        print(tools::narrow_wtf8(name) + "=" + tools::narrow_wtf8(text) + "\n");
    }
}

std::string attributes_of(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return "missing";
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(attributes));
    return text;
}

// A mount-point reparse buffer, laid out by hand: the header, the four name
// offsets and lengths, then both names with their terminators.
std::string mount_point_buffer(const std::wstring& target) {
    const std::wstring substitute = L"\\??\\" + target;
    const auto name_bytes = [](const std::wstring& name) {
        return static_cast<WORD>(name.size() * sizeof(wchar_t));
    };
    std::string names;
    names.append(reinterpret_cast<const char*>(substitute.c_str()), name_bytes(substitute) + 2);
    names.append(reinterpret_cast<const char*>(target.c_str()), name_bytes(target) + 2);
    const WORD header[4] = {0, name_bytes(substitute), static_cast<WORD>(name_bytes(substitute) + 2),
                            name_bytes(target)};
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    const WORD data_length = static_cast<WORD>(sizeof header + names.size());
    const WORD reserved = 0;
    std::string buffer;
    buffer.append(reinterpret_cast<const char*>(&tag), sizeof tag);
    buffer.append(reinterpret_cast<const char*>(&data_length), sizeof data_length);
    buffer.append(reinterpret_cast<const char*>(&reserved), sizeof reserved);
    buffer.append(reinterpret_cast<const char*>(header), sizeof header);
    return buffer + names;
}

void reparse(const std::wstring& directory) {
    const std::wstring target = directory + L"\\target";
    const std::wstring symlink = directory + L"\\symlink";
    const std::wstring junction = directory + L"\\junction";
    CreateDirectoryW(target.c_str(), nullptr);
    CreateSymbolicLinkW(symlink.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    if (CreateDirectoryW(junction.c_str(), nullptr)) {
        const tools::Handle handle(CreateFileW(junction.c_str(), GENERIC_WRITE, 0, nullptr,
                                               OPEN_EXISTING,
                                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                               nullptr));
        std::string buffer = mount_point_buffer(target);
        DWORD returned = 0;
        if (handle)
            DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                            static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    }
    std::printf("symlink=%s junction=%s\n", attributes_of(symlink).c_str(),
                attributes_of(junction).c_str());
}

void export_presence(const wchar_t* library, const wchar_t* name) {
    const HMODULE module = LoadLibraryW(library);
    const std::string narrow_name = tools::narrow_wtf8(name);
    const bool present = module != nullptr && GetProcAddress(module, narrow_name.c_str()) != nullptr;
    std::printf(present ? "present\n" : "missing\n");
}

void temp() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) tools::fail_tool(tool, "GetTempPathW failed");
    print(tools::narrow_wtf8(std::wstring_view(buffer, length)) + "\n");
}

void make_file(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) tools::fail_tool(tool, "CreateFileW failed");
    CloseHandle(file);
}

void replace_read_only(const std::wstring& directory) {
    const std::wstring fresh = directory + L"\\new";
    const std::wstring old = directory + L"\\old";
    make_file(fresh);
    make_file(old);
    if (!SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_READONLY))
        tools::fail_tool(tool, "SetFileAttributesW failed");
    if (MoveFileExW(fresh.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        std::printf("replaced\n");
    else
        std::printf("refused %lu\n", static_cast<unsigned long>(GetLastError()));
    SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_NORMAL);
}

void list_held(const std::wstring& directory) {
    tools::Handle held(CreateFileW(directory.c_str(), GENERIC_READ | DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
    if (held.get() == INVALID_HANDLE_VALUE) tools::fail_tool(tool, "CreateFileW failed");
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileExW((directory + L"\\*").c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        std::printf("listed\n");
    } else {
        std::printf("refused %lu\n", static_cast<unsigned long>(GetLastError()));
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // line feeds as written, no CR added
    const std::wstring query = argc > 1 ? argv[1] : L"";
    if (query == L"elevation" && argc == 2) {
        elevation();
    } else if (query == L"shell" && argc == 2) {
        shell();
    } else if (query == L"messages") {
        messages(argc - 2, argv + 2);
    } else if (query == L"manifest" && argc == 3) {
        manifest(argv[2]);
    } else if (query == L"version" && argc == 3) {
        version(argv[2]);
    } else if (query == L"reparse" && argc == 3) {
        reparse(argv[2]);
    } else if (query == L"export" && argc == 4) {
        export_presence(argv[2], argv[3]);
    } else if (query == L"command-line") {
        print(tools::narrow_wtf8(GetCommandLineW()));
    } else if (query == L"temp" && argc == 2) {
        temp();
    } else if (query == L"replace-read-only" && argc == 3) {
        replace_read_only(argv[2]);
    } else if (query == L"list-held" && argc == 3) {
        list_held(argv[2]);
    } else if (query == L"exit" && argc == 3) {
        return static_cast<int>(std::wcstoul(argv[2], nullptr, 10));
    } else {
        std::fprintf(stderr, "usage: ih-probe.exe elevation|shell|messages CODE...|manifest "
                             "PATH|version PATH|reparse DIR|export DLL NAME|command-line|temp|"
                             "replace-read-only DIR|list-held DIR|exit N\n");
        return tools::tool_failure;
    }
    std::fflush(stdout);
    return 0;
}
