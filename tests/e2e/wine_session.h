// The host side of Wine for the end-to-end tests: one private prefix under
// the host build folder, a wine server kept alive between runs, the mapping
// between Windows and host paths, and runs of Windows programs through the
// ih-run tool, which reports the full exit status and the output bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

// What a run of a Windows program did.
struct RunResult {
    std::uint32_t status = 0;     // all 32 bits of the exit status
    std::string standard_output;  // bytes
    std::string standard_error;   // bytes
    friend bool operator==(const RunResult&, const RunResult&) = default;
};
void PrintTo(const RunResult& result, std::ostream* out);

// The result of a run that failed with the helper's message: status 1, the
// message and one line feed on standard error, nothing on standard output.
RunResult helper_error(std::string_view message);

struct RunOptions {
    bool unelevated = false;     // the limited token linked to Wine's elevated one
    bool desktop_shell = false;  // the runner owns the shell window while the program runs
    bool no_standard_error = false;  // the program starts without a standard-error handle
};

// The account that programs run as under Wine.
inline constexpr std::string_view wine_user_sid = "S-1-5-21-0-0-0-1000";

// One Windows argument in the standard quoting, so that the C runtime and the
// helper's splitter read it back unchanged. Texts are UTF-8, or WTF-8 to carry
// a lone surrogate.
std::string quote_argument(std::string_view argument);

// A whole command line: the program's path as argument 0, then the arguments.
std::string build_command_line(std::string_view program,
                               const std::vector<std::string>& arguments);

namespace wine {

// Creates the prefix on first use (once across processes), selects the null
// graphics driver and starts a wine server that outlives single runs. Sets
// WINEPREFIX and WINEDEBUG for this process and its children.
void prepare();

// Ends the prefix's wine server and every Windows process in it.
void shut_down();

std::filesystem::path prefix();

// "C:\x\y" -> "<prefix>/drive_c/x/y". Only C: paths map.
std::filesystem::path unix_path(std::string_view windows_path);

// A host path as Wine sees it through its Z: drive.
std::string windows_path(const std::filesystem::path& unix_path);

// Windows paths of the helper and of a test tool ("ih-run" -> ...\tools\ih-run.exe).
std::string helper_path();
std::string tool_path(std::string_view name);

// Runs a Windows program with an exact command line (argument 0 included)
// through ih-run. The runner's files go to `work_stem` plus a suffix. A runner
// that cannot do its job is a test failure; its diagnostics are in the
// returned standard error and the status is `runner_failed`.
inline constexpr std::uint32_t runner_failed = 0xFFFFFFFFu;
RunResult run(std::string_view windows_program, std::string_view command_line,
              const RunOptions& options, const std::filesystem::path& work_stem);

// Splits each command line the way a Windows program would, all in one start
// of the ih-argv tool; the result holds argument 0 too. A C runtime split
// starts a process per line, so it costs a tenth of a second or so.
enum class Splitter {
    command_line_to_argv,  // shell32's CommandLineToArgvW
    c_runtime,             // the argv of a program's main, from Wine's msvcrt
};
struct SplitRequest {
    Splitter splitter;
    std::u16string command_line;
};
std::vector<std::vector<std::u16string>> split_command_lines(
    const std::vector<SplitRequest>& requests, const std::filesystem::path& work_stem);

// A program of the host, run with its standard streams in files next to
// `work_stem`; gives its exit code and output. Used for wine itself, for
// wineserver and for objdump.
struct HostRun {
    int exit_code = -1;
    std::string standard_output;
    std::string standard_error;
};
HostRun run_host(const std::vector<std::string>& argv, const std::filesystem::path& work_stem);

}  // namespace wine
}  // namespace e2e
