// planted-dll.dll: a library that must never be loaded. The end-to-end tests
// copy it beside a copy of installer-helper.exe under the name of each library
// the helper loads and of those these load in turn. Once loaded, it appends
// its own file name and a line feed to "planted-dll-loads.txt" in its folder
// and refuses to load (DllMain answers FALSE).
//
// It links no C runtime and imports ntdll alone: a copy named kernel32.dll or
// msvcrt.dll that imported from those would bind its imports to itself, fail
// to load and never leave its mark.
#include <windows.h>
#include <winternl.h>

extern "C" NTSTATUS NTAPI NtWriteFile(HANDLE file, HANDLE event, void* apc_routine,
                                      void* apc_context, IO_STATUS_BLOCK* io_status,
                                      const void* buffer, ULONG length, LARGE_INTEGER* offset,
                                      ULONG* key);

namespace {

constexpr wchar_t nt_prefix[] = L"\\??\\";
constexpr wchar_t marker_name[] = L"planted-dll-loads.txt";
constexpr USHORT path_units = 1024;
constexpr ULONG write_to_end_of_file = 0xFFFFFFFF;

// This library's path as the loader recorded it, from the process's list of
// loaded modules (the loader lists a module before it calls its DllMain).
const UNICODE_STRING* own_path(HINSTANCE instance) {
    PROCESS_BASIC_INFORMATION process{};
    // The pseudo-handle of the current process, as GetCurrentProcess gives it.
    const HANDLE current_process = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
    if (NtQueryInformationProcess(current_process, ProcessBasicInformation, &process,
                                  sizeof process, nullptr) < 0)
        return nullptr;
    const LIST_ENTRY* head = &process.PebBaseAddress->Ldr->InMemoryOrderModuleList;
    for (const LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
        const auto* entry = CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
        if (entry->DllBase == instance) return &entry->FullDllName;
    }
    return nullptr;
}

void leave_mark(HINSTANCE instance) {
    const UNICODE_STRING* path = own_path(instance);
    if (path == nullptr) return;
    const USHORT length = path->Length / sizeof(wchar_t);
    USHORT name_start = length;
    while (name_start > 0 && path->Buffer[name_start - 1] != L'\\') --name_start;

    // "\??\<folder>\planted-dll-loads.txt"
    constexpr USHORT fixed_units = (sizeof nt_prefix + sizeof marker_name) / sizeof(wchar_t);
    if (name_start > path_units - fixed_units) return;
    wchar_t marker[path_units];
    USHORT used = 0;
    for (const wchar_t c : nt_prefix)
        if (c != L'\0') marker[used++] = c;
    for (USHORT i = 0; i < name_start; ++i) marker[used++] = path->Buffer[i];
    for (const wchar_t c : marker_name) marker[used++] = c;  // with its terminator

    // The file name in ASCII (the names planted are ASCII), then a line feed.
    char line[256];
    ULONG line_length = 0;
    for (USHORT i = name_start; i < length && line_length < sizeof line - 1; ++i)
        line[line_length++] = static_cast<char>(path->Buffer[i]);
    line[line_length++] = '\n';

    UNICODE_STRING marker_path;
    RtlInitUnicodeString(&marker_path, marker);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &marker_path, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK io_status;
    HANDLE file = nullptr;
    if (NtCreateFile(&file, FILE_APPEND_DATA | SYNCHRONIZE, &attributes, &io_status, nullptr,
                     FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF,
                     FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0) < 0)
        return;
    LARGE_INTEGER end_of_file;
    end_of_file.LowPart = write_to_end_of_file;
    end_of_file.HighPart = -1;
    NtWriteFile(file, nullptr, nullptr, nullptr, &io_status, line, line_length, &end_of_file,
                nullptr);
    NtClose(file);
}

}  // namespace

extern "C" BOOL WINAPI planted_dll_main(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) leave_mark(instance);
    return FALSE;
}
