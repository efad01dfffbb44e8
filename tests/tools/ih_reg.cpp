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
//   ih-reg.exe dump ROOT KEY                prints "key KEY" and then
//                                           'value "NAME" TYPE HEX' for each
//                                           value in enumeration order, or
//                                           "no key KEY"; a link is not
//                                           followed
//   ih-reg.exe script FILE                  runs the commands in FILE, one a
//                                           line, arguments separated by tabs
//                                           (UTF-8), in order, so that a whole
//                                           registration costs one start
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
                 "link ROOT KEY TARGET | delete-key ROOT KEY | delete-tree ROOT KEY | "
                 "dump ROOT KEY | script FILE (ROOT: HKLM or HKU)\n");
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

// ---- Listing a key and running many commands in one start ----

std::string narrow(const std::wstring& text) { return tools::narrow_wtf8(text); }

void dump(HKEY root, const std::wstring& path) {
    Key key;
    const LONG opened =
        RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | view, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) {
        std::printf("no key %s\n", narrow(path).c_str());
        return;
    }
    check(opened, "RegOpenKeyExW failed");
    DWORD longest_name = 0;
    DWORD longest_data = 0;
    check(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &longest_name, &longest_data, nullptr, nullptr),
          "RegQueryInfoKeyW failed");
    std::printf("key %s\n", narrow(path).c_str());
    std::vector<wchar_t> name(longest_name + 1);
    std::vector<BYTE> data(longest_data + 1);
    for (DWORD index = 0;; ++index) {
        DWORD name_length = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG status = RegEnumValueW(key.get(), index, name.data(), &name_length, nullptr,
                                          &type, data.data(), &size);
        if (status == ERROR_NO_MORE_ITEMS) return;
        check(status, "RegEnumValueW failed");
        std::printf("value \"%s\" %lu ", narrow(std::wstring(name.data(), name_length)).c_str(),
                    static_cast<unsigned long>(type));
        for (DWORD i = 0; i < size; ++i) std::printf("%02x", data[i]);
        std::printf("\n");
    }
}

void run_command(const std::vector<std::wstring>& arguments);

// Lines of tab-separated arguments; empty lines are skipped.
void run_script(const std::wstring& file) {
    std::string bytes;
    std::wstring text;
    if (!tools::read_whole_file(file, bytes)) tools::fail_tool(tool, "cannot read the script");
    if (!tools::widen_wtf8(bytes, text)) tools::fail_tool(tool, "the script is not UTF-8", 0);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        std::vector<std::wstring> arguments;
        for (std::size_t field = 0;;) {
            const std::size_t tab = line.find(L'\t', field);
            arguments.push_back(line.substr(field, tab - field));
            if (tab == std::wstring::npos) break;
            field = tab + 1;
        }
        run_command(arguments);
    }
}

void run_command(const std::vector<std::wstring>& arguments) {
    const std::size_t count = arguments.size();
    if (count == 2 && arguments[0] == L"script") return run_script(arguments[1]);
    if (count < 3) usage();
    const std::wstring& command = arguments[0];
    const HKEY root = root_named(arguments[1]);
    const std::wstring& path = arguments[2];
    if (command == L"set" && count == 6) {
        set(root, path, arguments[3], parse_type(arguments[4]), parse_hex(arguments[5]));
    } else if (command == L"get" && count == 4) {
        get(root, path, arguments[3]);
    } else if (command == L"link" && count == 4) {
        link(root, path, arguments[3]);
    } else if (command == L"delete-key" && count == 3) {
        delete_key(root, path);
    } else if (command == L"delete-tree" && count == 3) {
        delete_tree(root, path);
    } else if (command == L"dump" && count == 3) {
        dump(root, path);
    } else {
        usage();
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // line feeds as written, no CR added
    _setmode(_fileno(stderr), _O_BINARY);
    run_command(std::vector<std::wstring>(argv + 1, argv + argc));
    std::fflush(stdout);
    return 0;
}
