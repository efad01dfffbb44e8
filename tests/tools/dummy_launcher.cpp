// dummy-launcher: a stand-in for the launcher and Client Services processes.
// Copies of it, under their names, are what the stop tests end.
//
//   dummy-launcher.exe                       runs until it is ended (at most
//                                            five minutes, so none outlives a
//                                            failed test for long)
//   dummy-launcher.exe start RESULT EXE...   starts each EXE (a copy of this
//                                            tool), waits until each runs and
//                                            writes their process ids to
//                                            RESULT, one line each
//   dummy-launcher.exe running RESULT ID...  writes "ID running" or "ID ended"
//                                            to RESULT for each process id
//   dummy-launcher.exe end ID...             ends each of these processes that
//                                            still runs
//   dummy-launcher.exe hold RESULT FILE      starts a copy that keeps FILE open
//                                            for reading, without delete
//                                            sharing, until it is ended, and
//                                            writes its process id to RESULT
//   dummy-launcher.exe -Action ...           runs until it is ended: a helper
//                                            that never answers, for the
//                                            sample setup's time-out
//
// A started copy tells that it runs by setting an event named after its own
// process id, which the starter creates while the copy is still suspended.
#include "tool_support.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr const char* tool = "dummy-launcher";
constexpr DWORD lifetime_ms = 5 * 60 * 1000;
constexpr DWORD start_timeout_ms = 30000;

std::wstring ready_event_name(DWORD pid) {
    return L"Local\\ih-dummy-launcher-ready-" + std::to_wstring(pid);
}

DWORD parse_id(const wchar_t* text) {
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(text, &end, 10);
    if (end == text || *end != L'\0') tools::fail_tool(tool, "a process id is not a number", 0);
    return static_cast<DWORD>(value);
}

int run_until_ended() {
    const tools::Handle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE,
                                         ready_event_name(GetCurrentProcessId()).c_str()));
    if (ready) SetEvent(ready.get());
    Sleep(lifetime_ms);
    return 0;
}

// The copy started by "hold": it tells that it runs only once the file is
// open, so a file it cannot open fails the start.
int hold_until_ended(const std::wstring& file) {
    const tools::Handle held(CreateFileW(file.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held) return tools::tool_failure;
    return run_until_ended();
}

// The copies must not keep the runner's output pipes open, or the runner
// would wait for them: they get the NUL device and nothing else of ours.
void stop_passing_standard_handles_on() {
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = GetStdHandle(which);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    }
}

// The NUL device, inheritable, for the copies' standard handles.
tools::Handle standard_handles_for_copies() {
    stop_passing_standard_handles_on();
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    tools::Handle null_device(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                          OPEN_EXISTING, 0, nullptr));
    if (!null_device) tools::fail_tool(tool, "cannot open NUL");
    return null_device;
}

DWORD start_copy(const std::wstring& executable, HANDLE null_device,
                 const std::wstring& arguments = {}) {
    std::wstring command_line = L"\"" + executable + L"\"" + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_device;
    startup.hStdOutput = null_device;
    startup.hStdError = null_device;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(executable.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &started))
        tools::fail_tool(tool, "cannot start a copy");
    const tools::Handle process(started.hProcess);
    const tools::Handle thread(started.hThread);
    const tools::Handle ready(
        CreateEventW(nullptr, TRUE, FALSE, ready_event_name(started.dwProcessId).c_str()));
    if (!ready) tools::fail_tool(tool, "CreateEventW failed");
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1))
        tools::fail_tool(tool, "ResumeThread failed");
    const HANDLE waited[] = {ready.get(), process.get()};
    if (WaitForMultipleObjects(2, waited, FALSE, start_timeout_ms) != WAIT_OBJECT_0)
        tools::fail_tool(tool, "a copy did not start", 0);
    return started.dwProcessId;
}

int start_copies(const std::wstring& result, const std::vector<std::wstring>& executables) {
    const tools::Handle null_device = standard_handles_for_copies();
    std::string ids;
    for (const std::wstring& executable : executables)
        ids += std::to_string(start_copy(executable, null_device.get())) + "\n";
    if (!tools::write_whole_file(result, ids)) tools::fail_tool(tool, "cannot write the result");
    return 0;
}

int start_holder(const std::wstring& result, const std::wstring& file) {
    wchar_t own_path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own_path, MAX_PATH);
    if (length == 0 || length == MAX_PATH) tools::fail_tool(tool, "GetModuleFileNameW failed");
    const tools::Handle null_device = standard_handles_for_copies();
    const DWORD pid = start_copy(own_path, null_device.get(), L" held \"" + file + L"\"");
    if (!tools::write_whole_file(result, std::to_string(pid) + "\n"))
        tools::fail_tool(tool, "cannot write the result");
    return 0;
}

bool is_running(DWORD pid) {
    const tools::Handle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

int report_running(const std::wstring& result, const std::vector<DWORD>& ids) {
    std::string report;
    for (const DWORD pid : ids)
        report += std::to_string(pid) + (is_running(pid) ? " running\n" : " ended\n");
    if (!tools::write_whole_file(result, report)) tools::fail_tool(tool, "cannot write the result");
    return 0;
}

int end_processes(const std::vector<DWORD>& ids) {
    for (const DWORD pid : ids) {
        const tools::Handle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (!process) continue;
        TerminateProcess(process.get(), 0);
        WaitForSingleObject(process.get(), start_timeout_ms);
    }
    return 0;
}

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: dummy-launcher.exe [start RESULT EXE... | running RESULT ID... | end "
                 "ID... | hold RESULT FILE]\n");
    std::exit(tools::tool_failure);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 1 || std::wstring(argv[1]) == L"-Action") return run_until_ended();
    const std::wstring command = argv[1];
    std::vector<std::wstring> rest(argv + 2, argv + argc);
    if (command == L"hold" && rest.size() == 2) return start_holder(rest[0], rest[1]);
    if (command == L"held" && rest.size() == 1) return hold_until_ended(rest[0]);
    if (command == L"start" && rest.size() >= 2)
        return start_copies(rest[0], std::vector<std::wstring>(rest.begin() + 1, rest.end()));
    std::vector<DWORD> ids;
    const std::size_t first_id = command == L"running" ? 1 : 0;
    for (std::size_t i = first_id; i < rest.size(); ++i) ids.push_back(parse_id(rest[i].c_str()));
    if (command == L"running" && rest.size() >= 1) return report_running(rest[0], ids);
    if (command == L"end") return end_processes(ids);
    usage();
}
