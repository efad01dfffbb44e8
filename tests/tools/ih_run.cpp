// ih-run: starts a program with an exact command line and records what it did.
//
//   ih-run.exe [--unelevated] [--shell] [--no-stderr] [--timeout-ms N]
//              PROGRAM COMMAND_LINE_FILE RESULT
//
// COMMAND_LINE_FILE holds the child's whole command line, argument 0 included,
// as WTF-8 bytes taken exactly as they are (no line ending is stripped), so a
// test can pass any quoting, tabs or lone surrogates. The child's standard
// input is the NUL device; its standard output and standard error are pipes.
// Afterwards RESULT.status holds the child's exit status in decimal with all
// 32 bits (Wine hands a host only the low 8), or "timeout"; RESULT.stdout and
// RESULT.stderr hold the bytes the child wrote.
//
// --unelevated: the child runs with the limited token linked to the runner's
//   own token (programs under Wine run elevated).
// --shell: a window of the runner becomes the desktop shell window before the
//   child starts, so the runner is the shell's process; RESULT.shell then
//   holds "window=<handle> process=<id>".
// --no-stderr: the child has no standard-error handle at all (RESULT.stderr
//   stays empty).
#include "tool_support.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr const char* tool = "ih-run";

struct Options {
    bool unelevated = false;
    bool shell = false;
    bool no_standard_error = false;
    DWORD timeout_ms = 60000;
    std::wstring program;
    std::wstring command_line_file;
    std::wstring result;
};

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: ih-run.exe [--unelevated] [--shell] [--no-stderr] [--timeout-ms N] PROGRAM "
                 "COMMAND_LINE_FILE RESULT\n");
    std::exit(tools::tool_failure);
}

Options parse_options(int argc, wchar_t** argv) {
    Options options;
    std::vector<std::wstring> positional;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--unelevated") {
            options.unelevated = true;
        } else if (argument == L"--shell") {
            options.shell = true;
        } else if (argument == L"--no-stderr") {
            options.no_standard_error = true;
        } else if (argument == L"--timeout-ms" && i + 1 < argc) {
            options.timeout_ms = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        } else if (argument.starts_with(L"--")) {
            usage();
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.size() != 3) usage();
    options.program = positional[0];
    options.command_line_file = positional[1];
    options.result = positional[2];
    return options;
}

void write_result(const Options& options, const wchar_t* suffix, std::string_view bytes) {
    if (!tools::write_whole_file(options.result + suffix, bytes))
        tools::fail_tool(tool, "cannot write a result file");
}

// The limited token that Windows links to an elevated one, as a primary token
// that a process can be started with.
tools::Handle limited_token() {
    tools::Handle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, own.put()))
        tools::fail_tool(tool, "OpenProcessToken failed");
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (!GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof linked, &size))
        tools::fail_tool(tool, "GetTokenInformation(TokenLinkedToken) failed");
    const tools::Handle limited(linked.LinkedToken);
    tools::Handle primary;
    if (!DuplicateTokenEx(limited.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                          TokenPrimary, primary.put()))
        tools::fail_tool(tool, "DuplicateTokenEx failed");
    return primary;
}

// Makes a window of this process the desktop shell window. The window lives
// until the runner exits, which is after the child has ended.
HWND become_shell() {
    const HWND window = CreateWindowExW(0, L"STATIC", L"ih-run shell", WS_POPUP, 0, 0, 0, 0,
                                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) tools::fail_tool(tool, "CreateWindowExW failed");
    using SetShellWindowFunction = BOOL(WINAPI*)(HWND);
    const auto set_shell_window = reinterpret_cast<SetShellWindowFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetShellWindow")));
    if (set_shell_window == nullptr) tools::fail_tool(tool, "SetShellWindow is missing");
    if (!set_shell_window(window)) tools::fail_tool(tool, "SetShellWindow failed");
    if (GetShellWindow() != window) tools::fail_tool(tool, "the shell window did not change", 0);
    return window;
}

struct PipeDrain {
    tools::Handle pipe;
    std::string bytes;
};

DWORD WINAPI drain_pipe(void* parameter) {
    auto* drain = static_cast<PipeDrain*>(parameter);
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(drain->pipe.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        drain->bytes.append(buffer, read);
    return 0;
}

// A pipe whose write end the child inherits and whose read end stays here.
void make_pipe(tools::Handle& read_end, tools::Handle& write_end) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    if (!CreatePipe(read_end.put(), write_end.put(), &inheritable, 0))
        tools::fail_tool(tool, "CreatePipe failed");
    if (!SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0))
        tools::fail_tool(tool, "SetHandleInformation failed");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const Options options = parse_options(argc, argv);

    std::string command_line_bytes;
    if (!tools::read_whole_file(options.command_line_file, command_line_bytes))
        tools::fail_tool(tool, "cannot read the command line file");
    std::wstring command_line;
    if (!tools::widen_wtf8(command_line_bytes, command_line))
        tools::fail_tool(tool, "the command line file is not WTF-8", 0);
    std::vector<wchar_t> writable_command_line(command_line.begin(), command_line.end());
    writable_command_line.push_back(L'\0');

    if (options.shell) {
        const HWND window = become_shell();
        char text[80];
        std::snprintf(text, sizeof text, "window=%llu process=%lu\n",
                      static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)),
                      static_cast<unsigned long>(GetCurrentProcessId()));
        write_result(options, L".shell", text);
    }

    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const tools::Handle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!input) tools::fail_tool(tool, "cannot open NUL");
    PipeDrain output;
    PipeDrain error;
    tools::Handle output_write;
    tools::Handle error_write;
    make_pipe(output.pipe, output_write);
    make_pipe(error.pipe, error_write);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output_write.get();
    startup.hStdError = options.no_standard_error ? nullptr : error_write.get();
    PROCESS_INFORMATION started{};
    const DWORD flags = DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT;
    BOOL created = FALSE;
    if (options.unelevated) {
        const tools::Handle token = limited_token();
        created = CreateProcessAsUserW(token.get(), options.program.c_str(),
                                       writable_command_line.data(), nullptr, nullptr, TRUE, flags,
                                       nullptr, nullptr, &startup, &started);
    } else {
        created = CreateProcessW(options.program.c_str(), writable_command_line.data(), nullptr,
                                 nullptr, TRUE, flags, nullptr, nullptr, &startup, &started);
    }
    if (!created) tools::fail_tool(tool, "cannot start the program");
    const tools::Handle process(started.hProcess);
    const tools::Handle thread(started.hThread);
    // Only the child holds the write ends now, so the drains end with it.
    output_write.reset();
    error_write.reset();

    const tools::Handle output_thread(CreateThread(nullptr, 0, drain_pipe, &output, 0, nullptr));
    const tools::Handle error_thread(CreateThread(nullptr, 0, drain_pipe, &error, 0, nullptr));
    if (!output_thread || !error_thread) tools::fail_tool(tool, "CreateThread failed");

    std::string status;
    if (WaitForSingleObject(process.get(), options.timeout_ms) == WAIT_OBJECT_0) {
        DWORD exit_code = 0;
        if (!GetExitCodeProcess(process.get(), &exit_code))
            tools::fail_tool(tool, "GetExitCodeProcess failed");
        status = std::to_string(exit_code);
    } else {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
        status = "timeout";
    }
    const HANDLE drains[] = {output_thread.get(), error_thread.get()};
    if (WaitForMultipleObjects(2, drains, TRUE, 10000) != WAIT_OBJECT_0)
        tools::fail_tool(tool, "the output pipes stayed open after the program ended", 0);

    write_result(options, L".stdout", output.bytes);
    write_result(options, L".stderr", error.bytes);
    write_result(options, L".status", status);
    return 0;
}
