// The fixture of the end-to-end tests: the real installer-helper.exe and the
// test tools, run under Wine through ih-run.
//
// Every test gets a fresh directory of its own on Wine's C: drive (scratch())
// and a fresh host folder for the runner's files. A typical test:
//
//     TEST_F(StopEndToEnd, NeedsTheContextFile) {
//         EXPECT_EQ(run_helper({"-Action", "stop", "-Output", scratch_path("context"),
//                               "-Directory", "C:\\Games"}),
//                   helper_error("Could not read the installer context: " +
//                                os_error_text(2)));
//     }
//
// Paths are Windows paths on C: unless a function says otherwise; texts are
// UTF-8 (WTF-8 to carry a lone surrogate).
#pragma once

#include "wine_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

class WineTest : public ::testing::Test {
public:
    // This test's own directory, "C:\e2e\<suite>\<test>", empty at the start.
    const std::string& scratch() const { return scratch_; }
    // scratch() + "\" + relative.
    std::string scratch_path(std::string_view relative) const;

    // Files in the prefix, written and read from the host side.
    void write_file(std::string_view windows_path, std::string_view bytes) const;
    std::string read_file(std::string_view windows_path) const;
    void make_directory(std::string_view windows_path) const;
    bool exists(std::string_view windows_path) const;

    // The helper with these arguments, quoted the standard way after its path.
    RunResult run_helper(const std::vector<std::string>& arguments, const RunOptions& options = {});
    // The helper with this exact command line, argument 0 included.
    RunResult run_helper_command_line(std::string_view command_line,
                                      const RunOptions& options = {});
    // A test tool (tests/tools), by name without ".exe", with these arguments.
    RunResult run_tool(std::string_view name, const std::vector<std::string>& arguments,
                       const RunOptions& options = {});
    // Any Windows program with an exact command line.
    RunResult run_program(std::string_view windows_program, std::string_view command_line,
                          const RunOptions& options = {});

    // Each line split by Windows' own rules (wine::split_command_lines).
    std::vector<std::vector<std::u16string>> split_command_lines(
        const std::vector<wine::SplitRequest>& requests);

    // A fresh stem in this test's host folder for files of one run.
    std::filesystem::path next_work_stem();
    // The runner's file with this suffix (".shell", ".status", ...) of the
    // latest run.
    std::string last_run_file(std::string_view suffix) const;

protected:
    void SetUp() override;

private:
    std::string scratch_;
    std::filesystem::path work_folder_;
    int runs_ = 0;
};

}  // namespace e2e
