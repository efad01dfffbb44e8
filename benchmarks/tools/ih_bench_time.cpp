// ih-bench-time: one timed run of a program, and its peak working set.
//
//   ih-bench-time.exe RESULT PROGRAM [ARGUMENT...]
//
// Runs PROGRAM with the ARGUMENTs, its standard streams on the NUL device,
// and writes one line to the file RESULT: "<milliseconds> <exit status>
// <peak working set in bytes>". The time runs from CreateProcessW until the
// process has ended. Wine reports a working set of 0 once a process has
// exited, so the peak is read every few milliseconds while it runs and the
// last reading kept.
#include "tool_support.h"

#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* tool = "ih-bench-time";

std::wstring quoted(const std::wstring& argument) {
    return argument.find_first_of(L" \t") == std::wstring::npos ? argument
                                                                : L"\"" + argument + L"\"";
}

double milliseconds_between(LARGE_INTEGER begin, LARGE_INTEGER end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

SIZE_T peak_working_set(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(process, &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: ih-bench-time.exe RESULT PROGRAM [ARGUMENT...]\n");
        return tools::tool_failure;
    }
    const std::wstring program = argv[2];
    std::wstring command_line = quoted(program);
    for (int i = 3; i < argc; ++i) command_line += L" " + quoted(argv[i]);
    std::vector<wchar_t> writable(command_line.begin(), command_line.end());
    writable.push_back(L'\0');

    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const tools::Handle null_device(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                                OPEN_EXISTING, 0, nullptr));
    if (!null_device) tools::fail_tool(tool, "cannot open NUL");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = null_device.get();
    PROCESS_INFORMATION started{};

    LARGE_INTEGER begin;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&begin);
    if (!CreateProcessW(program.c_str(), writable.data(), nullptr, nullptr, TRUE,
                        DETACHED_PROCESS, nullptr, nullptr, &startup, &started))
        tools::fail_tool(tool, "cannot start the program");
    const tools::Handle process(started.hProcess);
    const tools::Handle thread(started.hThread);
    SIZE_T peak = 0;
    for (int waited = 0;; waited += 5) {
        const DWORD waiting = WaitForSingleObject(process.get(), 5);
        if (waiting == WAIT_OBJECT_0) break;
        if (waiting != WAIT_TIMEOUT || waited > 1'800'000)
            tools::fail_tool(tool, "the program did not end");
        if (const SIZE_T now = peak_working_set(process.get()); now > peak) peak = now;
    }
    QueryPerformanceCounter(&end);
    DWORD status = 0;
    GetExitCodeProcess(process.get(), &status);

    char line[96];
    const int length = std::snprintf(line, sizeof line, "%.2f %lu %llu\n",
                                     milliseconds_between(begin, end),
                                     static_cast<unsigned long>(status),
                                     static_cast<unsigned long long>(peak));
    if (!tools::write_whole_file(argv[1], std::string_view(line, static_cast<std::size_t>(length))))
        tools::fail_tool(tool, "cannot write the result");
    return 0;
}
