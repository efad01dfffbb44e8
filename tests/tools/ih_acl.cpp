// ih-acl: the access-control list of a path as Windows reports it, for the
// end-to-end tests, and directories created with a given descriptor, to
// learn what Wine keeps of one.
//
//   ih-acl.exe show PATH         the DACL from GetNamedSecurityInfoW: a line
//                                "protected=<0|1>", then one line per entry,
//                                "<allow|deny|type N> <flags|-> 0x<mask> <SID>",
//                                flags as OI CI NP IO ID in that order; or
//                                "dacl=null" for a null DACL
//   ih-acl.exe create DIR SDDL   CreateDirectoryW of DIR with the descriptor
//                                converted from SDDL, or with none for "-";
//                                prints nothing
#include "tool_support.h"

#include <aclapi.h>
#include <sddl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* tool = "ih-acl";

// System memory that LocalFree releases.
template <typename T>
struct LocalMemory {
    T value = nullptr;
    ~LocalMemory() {
        if (value != nullptr) LocalFree(value);
    }
};

void print(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

std::string type_name(BYTE type) {
    if (type == ACCESS_ALLOWED_ACE_TYPE) return "allow";
    if (type == ACCESS_DENIED_ACE_TYPE) return "deny";
    return "type " + std::to_string(type);
}

std::string flag_names(BYTE flags) {
    std::string names;
    const std::pair<BYTE, const char*> known[] = {{OBJECT_INHERIT_ACE, "OI"},
                                                  {CONTAINER_INHERIT_ACE, "CI"},
                                                  {NO_PROPAGATE_INHERIT_ACE, "NP"},
                                                  {INHERIT_ONLY_ACE, "IO"},
                                                  {INHERITED_ACE, "ID"}};
    for (const auto& [bit, name] : known)
        if ((flags & bit) != 0) names += name;
    return names.empty() ? "-" : names;
}

std::string sid_text(PSID sid) {
    LocalMemory<wchar_t*> text;
    if (!ConvertSidToStringSidW(sid, &text.value)) tools::fail_tool(tool, "ConvertSidToStringSidW failed");
    return tools::narrow_wtf8(text.value);
}

void show(const wchar_t* path) {
    PACL dacl = nullptr;
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    const DWORD error = GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                              nullptr, nullptr, &dacl, nullptr, &descriptor.value);
    if (error != ERROR_SUCCESS) tools::fail_tool(tool, "GetNamedSecurityInfoW failed", error);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(descriptor.value, &control, &revision))
        tools::fail_tool(tool, "GetSecurityDescriptorControl failed");
    if (dacl == nullptr) {
        print("dacl=null\n");
        return;
    }
    print((control & SE_DACL_PROTECTED) != 0 ? "protected=1\n" : "protected=0\n");
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) tools::fail_tool(tool, "GetAce failed");
        // Allowed and denied entries share this layout; other types print
        // their header only.
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        const BYTE type = allowed->Header.AceType;
        std::string line = type_name(type) + " " + flag_names(allowed->Header.AceFlags);
        if (type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_DENIED_ACE_TYPE) {
            char mask[16];
            std::snprintf(mask, sizeof mask, "0x%lx", static_cast<unsigned long>(allowed->Mask));
            line += std::string(" ") + mask + " " +
                    sid_text(const_cast<DWORD*>(&allowed->SidStart));
        }
        print(line + "\n");
    }
}

void create(const wchar_t* directory, const std::wstring& sddl) {
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    if (sddl != L"-" && !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                            sddl.c_str(), SDDL_REVISION_1, &descriptor.value, nullptr))
        tools::fail_tool(tool, "ConvertStringSecurityDescriptorToSecurityDescriptorW failed");
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.value, FALSE};
    if (!CreateDirectoryW(directory, descriptor.value != nullptr ? &attributes : nullptr))
        tools::fail_tool(tool, "CreateDirectoryW failed");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // line feeds as written, no CR added
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"show" && argc == 3) {
        show(argv[2]);
    } else if (command == L"create" && argc == 4) {
        create(argv[2], argv[3]);
    } else {
        std::fprintf(stderr, "usage: ih-acl.exe show PATH | create DIR SDDL\n");
        return tools::tool_failure;
    }
    std::fflush(stdout);
    return 0;
}
