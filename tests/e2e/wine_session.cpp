#include "wine_session.h"

#include "host_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <stdexcept>

extern char** environ;

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Every host program gets a hard time limit, so that a hung Wine ends the
// test instead of the CI run.
constexpr const char* host_time_limit = "180";

std::string escaped(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c == '\\') out += "\\\\";
        else if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else out += c;
    }
    return out;
}

std::string hex_units(std::u16string_view units) {
    std::string hex;
    char digits[5];
    for (const char16_t unit : units) {
        std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(unit));
        hex += digits;
    }
    return hex;
}

std::u16string units_from_hex(std::string_view hex) {
    std::u16string units;
    if (hex == "-") return units;
    for (std::size_t i = 0; i + 4 <= hex.size(); i += 4)
        units.push_back(static_cast<char16_t>(std::stoul(std::string(hex.substr(i, 4)), nullptr, 16)));
    return units;
}

// Holds an exclusive lock on a file for as long as it lives.
class FileLock {
public:
    explicit FileLock(const fs::path& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + path.string());
    }
    ~FileLock() { ::close(fd_); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_;
};

void require_host_success(const wine::HostRun& run, std::string_view what) {
    if (run.exit_code != 0)
        throw std::runtime_error(std::string(what) + " failed with exit code " +
                                 std::to_string(run.exit_code) + ": " + run.standard_error);
}

fs::path work_dir() { return E2E_WORK_DIR; }

// scripts/demo.sh makes its own prefix with these settings (and those of
// prepare()); keep the two in step.
void create_prefix() {
    const fs::path logs = work_dir() / "prefix-setup";
    fs::remove_all(wine::prefix());
    require_host_success(wine::run_host({E2E_WINE, "wineboot", "--init"}, logs / "wineboot"),
                         "wineboot --init");
    // With no display, windows can only be made with the null driver.
    require_host_success(
        wine::run_host({E2E_WINE, "reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics",
                        "/d", "null", "/f"},
                       logs / "graphics-driver"),
        "selecting the null graphics driver");
    // The server writes the registry to disk when it ends; only then is the
    // prefix complete.
    wine::run_host({E2E_WINESERVER, "-w"}, logs / "wineserver-wait");
    write_host_file(wine::prefix() / ".e2e-ready", "");
}

}  // namespace

void PrintTo(const RunResult& result, std::ostream* out) {
    *out << "{status " << result.status << ", stdout \"" << escaped(result.standard_output)
         << "\", stderr \"" << escaped(result.standard_error) << "\"}";
}

RunResult helper_error(std::string_view message) {
    return RunResult{1, "", std::string(message) + "\n"};
}

std::string quote_argument(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos)
        return std::string(argument);
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quotation mark follows them.
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

std::string build_command_line(std::string_view program, const std::vector<std::string>& arguments) {
    std::string line = "\"" + std::string(program) + "\"";
    for (const std::string& argument : arguments) line += " " + quote_argument(argument);
    return line;
}

namespace wine {

fs::path prefix() { return E2E_PREFIX_DIR; }

void prepare() {
    static bool prepared = false;
    if (prepared) return;
    ::setenv("WINEPREFIX", prefix().c_str(), 1);
    ::setenv("WINEDEBUG", "-all", 1);
    // No Mono or Gecko installers while the prefix is made: there is no network.
    ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    fs::create_directories(work_dir());
    {
        const FileLock lock(work_dir() / "wineprefix.lock");
        if (!fs::exists(prefix() / ".e2e-ready")) create_prefix();
        // Kept alive for a while after the last program ends, so that each
        // run starts in a fraction of a second. Exit code 2: already running.
        const HostRun server =
            run_host({E2E_WINESERVER, "-p30"}, work_dir() / "prefix-setup" / "wineserver-persistent");
        if (server.exit_code != 0 && server.exit_code != 2)
            require_host_success(server, "starting the wine server");
    }
    prepared = true;
}

void shut_down() {
    ::setenv("WINEPREFIX", prefix().c_str(), 1);
    run_host({E2E_WINESERVER, "-k"}, work_dir() / "prefix-setup" / "wineserver-kill");
}

fs::path unix_path(std::string_view windows_path) {
    if (windows_path.size() < 2 || (windows_path[0] != 'C' && windows_path[0] != 'c') ||
        windows_path[1] != ':')
        throw std::invalid_argument("not a C: path: " + std::string(windows_path));
    std::string rest(windows_path.substr(2));
    for (char& c : rest)
        if (c == '\\') c = '/';
    while (rest.starts_with('/')) rest.erase(0, 1);
    return prefix() / "drive_c" / rest;
}

std::string windows_path(const fs::path& unix_path) {
    std::string path = fs::absolute(unix_path).lexically_normal().string();
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

std::string helper_path() { return windows_path(E2E_HELPER_EXE); }

std::string tool_path(std::string_view name) {
    return windows_path(fs::path(E2E_TOOLS_DIR) / (std::string(name) + ".exe"));
}

HostRun run_host(const std::vector<std::string>& argv, const fs::path& work_stem) {
    fs::create_directories(work_stem.parent_path());
    const std::string output_path = work_stem.string() + ".out";
    const std::string error_path = work_stem.string() + ".err";

    std::vector<std::string> command = {"timeout", "-k", "10", host_time_limit};
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> pointers;
    for (std::string& part : command) pointers.push_back(part.data());
    pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, error_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    HostRun run;
    if (spawned != 0) {
        run.standard_error = "cannot start " + argv.front();
        return run;
    }
    int wait_status = 0;
    while (::waitpid(child, &wait_status, 0) < 0) {
        if (errno != EINTR) {
            run.standard_error = "cannot wait for " + argv.front();
            return run;
        }
    }
    run.exit_code = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    run.standard_output = read_host_file(output_path);
    run.standard_error = read_host_file(error_path);
    return run;
}

RunResult run(std::string_view windows_program, std::string_view command_line,
              const RunOptions& options, const fs::path& work_stem) {
    prepare();
    const fs::path command_line_file = work_stem.string() + ".cmdline";
    write_host_file(command_line_file, command_line);

    std::vector<std::string> argv = {E2E_WINE, (fs::path(E2E_TOOLS_DIR) / "ih-run.exe").string()};
    if (options.unelevated) argv.push_back("--unelevated");
    if (options.desktop_shell) argv.push_back("--shell");
    if (options.no_standard_error) argv.push_back("--no-stderr");
    argv.push_back(std::string(windows_program));
    argv.push_back(windows_path(command_line_file));
    argv.push_back(windows_path(work_stem));
    // On a loaded machine Wine now and then fails to create the process at
    // all (ERROR_INTERNAL_ERROR), or ends ih-run.exe with status 1 before its
    // first line: ih-run says why whenever it fails, so a silent failure with
    // no status written means nothing ran, and the start is tried again.
    constexpr int starts = 3;
    const fs::path status_file = work_stem.string() + ".status";
    HostRun runner;
    for (int attempt = 1; attempt <= starts; ++attempt) {
        runner = run_host(argv, work_stem.string() + ".wine");
        const bool not_started =
            runner.standard_error.find("cannot start the program (Windows error 1359)") !=
                std::string::npos ||
            (runner.exit_code != 0 && runner.standard_error.empty() && !fs::exists(status_file));
        if (!not_started) break;
    }

    const std::string status = read_host_file(status_file);
    if (runner.exit_code != 0 || status.empty() || status == "timeout") {
        const std::string diagnosis = "ih-run exit code " + std::to_string(runner.exit_code) +
                                      ", status \"" + status + "\": " + runner.standard_error;
        ADD_FAILURE() << "running " << command_line << ": " << diagnosis;
        return RunResult{runner_failed, "", diagnosis};
    }
    return RunResult{static_cast<std::uint32_t>(std::stoul(status)),
                     read_host_file(work_stem.string() + ".stdout"),
                     read_host_file(work_stem.string() + ".stderr")};
}

std::vector<std::vector<std::u16string>> split_command_lines(
    const std::vector<SplitRequest>& requests, const fs::path& work_stem) {
    prepare();
    std::string input;
    for (const SplitRequest& request : requests)
        input += (request.splitter == Splitter::c_runtime ? "C:" : "S:") +
                 hex_units(request.command_line) + "\n";
    const fs::path input_file = work_stem.string() + ".argv-in";
    const fs::path output_file = work_stem.string() + ".argv-out";
    write_host_file(input_file, input);
    fs::remove(output_file);
    const HostRun tool = run_host({E2E_WINE, (fs::path(E2E_TOOLS_DIR) / "ih-argv.exe").string(),
                                   windows_path(input_file), windows_path(output_file)},
                                  work_stem.string() + ".wine");
    std::vector<std::vector<std::u16string>> results;
    if (tool.exit_code != 0) {
        ADD_FAILURE() << "ih-argv failed with exit code " << tool.exit_code << ": "
                      << tool.standard_error;
        return results;
    }
    const std::string output = read_host_file(output_file);
    std::size_t start = 0;
    while (start < output.size()) {
        const std::size_t end = output.find('\n', start);
        std::string_view line = std::string_view(output).substr(start, end - start);
        start = end + 1;
        std::vector<std::u16string> arguments;
        const std::size_t count_end = line.find(' ');
        const std::size_t count = std::stoul(std::string(line.substr(0, count_end)));
        line.remove_prefix(count_end == std::string_view::npos ? line.size() : count_end);
        while (line.starts_with(' ')) {
            line.remove_prefix(1);
            const std::size_t next = line.find(' ');
            arguments.push_back(units_from_hex(line.substr(0, next)));
            line.remove_prefix(next == std::string_view::npos ? line.size() : next);
        }
        EXPECT_EQ(arguments.size(), count) << "ih-argv output is garbled";
        results.push_back(std::move(arguments));
    }
    EXPECT_EQ(results.size(), requests.size()) << "ih-argv output is garbled";
    return results;
}

}  // namespace wine
}  // namespace e2e
