// ih-startup: what a program's start costs, against a baseline program.
//
//   ih-startup.exe PAIRS BASELINE PROGRAM [ARGUMENT...]
//
// Runs BASELINE (without arguments) and PROGRAM with the ARGUMENTs in turn,
// PAIRS times each, and times each run from CreateProcessW until the process
// has ended. Prints a line "<baseline ms> <program ms> <ratio>" for each pair,
// then "median <ratio> min <ratio> max <ratio>". The programs' standard
// streams are the NUL device; their exit statuses are not looked at. Under
// Wine, for instance:
//
//   wine tools/ih-startup.exe 11 tools/ih-empty.exe installer-helper.exe -Action nope
#include "tool_support.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr const char* tool = "ih-startup";

// Enough quoting for paths and plain arguments; none holds a quote.
std::wstring quoted(const std::wstring& argument) {
    return argument.find_first_of(L" \t") == std::wstring::npos ? argument
                                                                : L"\"" + argument + L"\"";
}

double milliseconds_to_run(const std::wstring& program, const std::wstring& command_line,
                           HANDLE null_device) {
    std::vector<wchar_t> writable(command_line.begin(), command_line.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = null_device;
    PROCESS_INFORMATION started{};
    LARGE_INTEGER frequency;
    LARGE_INTEGER begin;
    LARGE_INTEGER end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (!CreateProcessW(program.c_str(), writable.data(), nullptr, nullptr, TRUE,
                        DETACHED_PROCESS, nullptr, nullptr, &startup, &started))
        tools::fail_tool(tool, "cannot start a program");
    const tools::Handle process(started.hProcess);
    const tools::Handle thread(started.hThread);
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0)
        tools::fail_tool(tool, "a program did not end");
    QueryPerformanceCounter(&end);
    return 1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: ih-startup.exe PAIRS BASELINE PROGRAM [ARGUMENT...]\n");
        return tools::tool_failure;
    }
    const int pairs = static_cast<int>(std::wcstol(argv[1], nullptr, 10));
    const std::wstring baseline = argv[2];
    const std::wstring program = argv[3];
    std::wstring command_line = quoted(program);
    for (int i = 4; i < argc; ++i) command_line += L" " + quoted(argv[i]);

    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const tools::Handle null_device(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                                OPEN_EXISTING, 0, nullptr));
    if (!null_device) tools::fail_tool(tool, "cannot open NUL");

    std::vector<double> ratios;
    for (int pair = 0; pair < pairs; ++pair) {
        const double base = milliseconds_to_run(baseline, quoted(baseline), null_device.get());
        const double measured = milliseconds_to_run(program, command_line, null_device.get());
        ratios.push_back(measured / base);
        std::printf("%.1f %.1f %.2f\n", base, measured, ratios.back());
    }
    if (ratios.empty()) return 0;
    std::sort(ratios.begin(), ratios.end());
    std::printf("median %.2f min %.2f max %.2f\n", ratios[ratios.size() / 2], ratios.front(),
                ratios.back());
    return 0;
}
