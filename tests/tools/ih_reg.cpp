// ih-reg: seeds and reads the registry of a Wine prefix with exact value
// types and bytes, in the 64-bit view, for the end-to-end tests.
//
//   ih-reg.exe set ROOT KEY NAME TYPE HEX   writes the value (TYPE a number,
//                                           HEX its bytes, "" for none),
//                                           creating missing keys
//   ih-reg.exe get ROOT KEY NAME            prints "TYPE HEX" and a line feed;
//                                           KEY's last component is opened
//                                           as itself, even when it is a link
//   ih-reg.exe link ROOT KEY TARGET         creates KEY as a registry link to
//                                           TARGET, an absolute registry path
//                                           ("\Registry\Machine\...")
//   ih-reg.exe delete-key ROOT KEY          deletes KEY, which must have no
//                                           subkeys; a link key itself goes,
//                                           never its target
//   ih-reg.exe delete-tree ROOT KEY         deletes KEY and everything below
//                                           it without following links; an
//                                           absent KEY is nothing to do
//
// ROOT is HKLM or HKU; NAME "" is the key's default value. Exit status 0 on
// success; otherwise a message on standard error and a non-zero status.
#include "tool_support.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr const char* tool = "ih-reg";
constexpr REGSAM view = KEY_WOW64_64KEY;

// NtDeleteKey deletes the key a handle refers to; the Win32 functions take a
// name, which would follow a link to its target.
using NtDeleteKeyFunction = LONG(NTAPI*)(HANDLE);

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: ih-reg.exe set ROOT KEY NAME TYPE HEX | get ROOT KEY NAME | "
                 "link ROOT KEY TARGET | delete-key ROOT KEY | delete-tree ROOT KEY "
                 "(ROOT: HKLM or HKU)\n");
    std::exit(tools::tool_failure);
}

// A key handle, closed once.
class Key {
public:
    Key() = default;
    ~Key() {
        if (value_ != nullptr) RegCloseKey(value_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return value_; }
    HKEY* put() { return &value_; }

private:
    HKEY value_ = nullptr;
};

HKEY root_named(const std::wstring& name) {
    if (name == L"HKLM") return HKEY_LOCAL_MACHINE;
    if (name == L"HKU") return HKEY_USERS;
    usage();
}

void check(LONG status, const char* what) {
    if (status != ERROR_SUCCESS) tools::fail_tool(tool, what, static_cast<DWORD>(status));
}

std::vector<BYTE> parse_hex(const std::wstring& hex) {
    const auto digit = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9') return c - L'0';
        if (c >= L'a' && c <= L'f') return c - L'a' + 10;
        if (c >= L'A' && c <= L'F') return c - L'A' + 10;
        return -1;
    };
    if (hex.size() % 2 != 0) usage();
    std::vector<BYTE> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]);
        const int low = digit(hex[i + 1]);
        if (high < 0 || low < 0) usage();
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
    }
    return bytes;
}

DWORD parse_type(const std::wstring& text) {
    wchar_t* end = nullptr;
    const unsigned long type = std::wcstoul(text.c_str(), &end, 0);
    if (text.empty() || *end != L'\0') usage();
    return static_cast<DWORD>(type);
}

void set(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
         std::vector<BYTE> data) {
    Key key;
    check(RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE | view, nullptr, key.put(), nullptr),
          "RegCreateKeyExW failed");
    // RegSetValueExW adds a NUL to a string whose count left its terminator
    // out when the unit after the data is one; non-zero bytes there keep a
    // string without a terminator exactly as given.
    const auto size = static_cast<DWORD>(data.size());
    data.insert(data.end(), {0xFF, 0xFF, 0xFF});
    check(RegSetValueExW(key.get(), name.c_str(), 0, type, data.data(), size),
          "RegSetValueExW failed");
}

void get(HKEY root, const std::wstring& path, const std::wstring& name) {
    Key key;
    check(
        RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | view, key.put()),
        "RegOpenKeyExW failed");
    DWORD type = 0;
    DWORD size = 0;
    check(RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size),
          "RegQueryValueExW failed");
    std::vector<BYTE> data(size + 1);
    check(RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, data.data(), &size),
          "RegQueryValueExW failed");
    std::printf("%lu ", static_cast<unsigned long>(type));
    for (DWORD i = 0; i < size; ++i) std::printf("%02x", data[i]);
    std::printf("\n");
}

void link(HKEY root, const std::wstring& path, const std::wstring& target) {
    Key key;
    DWORD disposition = 0;
    check(RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                          KEY_SET_VALUE | KEY_CREATE_LINK | view, nullptr, key.put(), &disposition),
          "RegCreateKeyExW failed");
    if (disposition != REG_CREATED_NEW_KEY)
        tools::fail_tool(tool, "the link key exists already", ERROR_ALREADY_EXISTS);
    // The target's units without a terminator: the name the kernel follows.
    check(RegSetValueExW(key.get(), L"SymbolicLinkValue", 0, REG_LINK,
                         reinterpret_cast<const BYTE*>(target.data()),
                         static_cast<DWORD>(target.size() * sizeof(wchar_t))),
          "RegSetValueExW(SymbolicLinkValue) failed");
}

NtDeleteKeyFunction nt_delete_key() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto function =
        ntdll == nullptr ? nullptr
                         : reinterpret_cast<NtDeleteKeyFunction>(
                               reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtDeleteKey")));
    if (function == nullptr) tools::fail_tool(tool, "ntdll has no NtDeleteKey");
    return function;
}

// The key itself, opened for deleting and listing; a link is not followed.
LONG open_itself(HKEY parent, const std::wstring& name, Key& key) {
    return RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK,
                         DELETE | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | view, key.put());
}

bool is_link(HKEY key) {
    DWORD type = 0;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) ==
               ERROR_SUCCESS &&
           type == REG_LINK;
}

void delete_opened(HKEY key) {
    const LONG status = nt_delete_key()(key);
    if (status != 0) tools::fail_tool(tool, "NtDeleteKey failed", static_cast<DWORD>(status));
}

void delete_key(HKEY root, const std::wstring& path) {
    Key key;
    check(open_itself(root, path, key), "RegOpenKeyExW failed");
    delete_opened(key.get());
}

// Subkeys first, each opened as itself: a link is deleted, never entered.
void delete_below(HKEY key) {
    if (is_link(key)) return;
    for (;;) {
        wchar_t name[256];
        DWORD length = 256;
        const LONG status =
            RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return;
        check(status, "RegEnumKeyExW failed");
        Key child;
        check(open_itself(key, std::wstring(name, length), child), "RegOpenKeyExW failed");
        delete_below(child.get());
        delete_opened(child.get());
    }
}

void delete_tree(HKEY root, const std::wstring& path) {
    Key key;
    const LONG status = open_itself(root, path, key);
    if (status == ERROR_FILE_NOT_FOUND) return;
    check(status, "RegOpenKeyExW failed");
    delete_below(key.get());
    delete_opened(key.get());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // line feeds as written, no CR added
    _setmode(_fileno(stderr), _O_BINARY);
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (argc < 4) usage();
    const HKEY root = root_named(argv[2]);
    const std::wstring path = argv[3];
    if (command == L"set" && argc == 7) {
        set(root, path, argv[4], parse_type(argv[5]), parse_hex(argv[6]));
    } else if (command == L"get" && argc == 5) {
        get(root, path, argv[4]);
    } else if (command == L"link" && argc == 5) {
        link(root, path, argv[4]);
    } else if (command == L"delete-key" && argc == 4) {
        delete_key(root, path);
    } else if (command == L"delete-tree" && argc == 4) {
        delete_tree(root, path);
    } else {
        usage();
    }
    std::fflush(stdout);
    return 0;
}
