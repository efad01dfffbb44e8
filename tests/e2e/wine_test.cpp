#include "wine_test.h"

#include "host_files.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Parameterised tests have "/" in their names.
std::string file_name_safe(std::string name) {
    for (char& c : name)
        if (c == '/' || c == '\\' || c == ' ') c = '_';
    return name;
}

}  // namespace

void WineTest::SetUp() {
    wine::prepare();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string suite = file_name_safe(info->test_suite_name());
    const std::string test = file_name_safe(info->name());
    scratch_ = "C:\\e2e\\" + suite + "\\" + test;
    fs::remove_all(wine::unix_path(scratch_));
    fs::create_directories(wine::unix_path(scratch_));
    work_folder_ = fs::path(E2E_WORK_DIR) / "runs" / (suite + "." + test);
    fs::remove_all(work_folder_);
    fs::create_directories(work_folder_);
}

std::string WineTest::scratch_path(std::string_view relative) const {
    return scratch_ + "\\" + std::string(relative);
}

void WineTest::write_file(std::string_view windows_path, std::string_view bytes) const {
    write_host_file(wine::unix_path(windows_path), bytes);
}

std::string WineTest::read_file(std::string_view windows_path) const {
    return read_host_file(wine::unix_path(windows_path));
}

void WineTest::make_directory(std::string_view windows_path) const {
    fs::create_directories(wine::unix_path(windows_path));
}

bool WineTest::exists(std::string_view windows_path) const {
    return fs::exists(wine::unix_path(windows_path));
}

fs::path WineTest::next_work_stem() { return work_folder_ / ("run" + std::to_string(++runs_)); }

std::string WineTest::last_run_file(std::string_view suffix) const {
    return read_host_file(work_folder_ / ("run" + std::to_string(runs_) + std::string(suffix)));
}

RunResult WineTest::run_helper(const std::vector<std::string>& arguments,
                               const RunOptions& options) {
    return run_helper_command_line(build_command_line(wine::helper_path(), arguments), options);
}

RunResult WineTest::run_helper_command_line(std::string_view command_line,
                                            const RunOptions& options) {
    return run_program(wine::helper_path(), command_line, options);
}

RunResult WineTest::run_tool(std::string_view name, const std::vector<std::string>& arguments,
                             const RunOptions& options) {
    const std::string program = wine::tool_path(name);
    return run_program(program, build_command_line(program, arguments), options);
}

RunResult WineTest::run_program(std::string_view windows_program, std::string_view command_line,
                                const RunOptions& options) {
    return wine::run(windows_program, command_line, options, next_work_stem());
}

std::vector<std::vector<std::u16string>> WineTest::split_command_lines(
    const std::vector<wine::SplitRequest>& requests) {
    return wine::split_command_lines(requests, next_work_stem());
}

}  // namespace e2e
