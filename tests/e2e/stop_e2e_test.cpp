// The stop action under Wine: copies of the dummy launcher, running under
// the launcher's and Client Services' names inside and outside the
// installation, and exactly the installed ones ended.
#include "context_file.h"
#include "wine_test.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace e2e {
namespace {

namespace fs = std::filesystem;

class StopEndToEnd : public WineTest {
protected:
    std::string installation() const { return scratch_path("Quillmora Launcher"); }
    std::string elsewhere() const { return scratch_path("Other Copy"); }

    void SetUp() override {
        WineTest::SetUp();
        ContextFile context;
        context.directory = installation();
        write_file(scratch_path("context"), context.written());
    }

    // Ends whatever this test started and stop left running.
    void TearDown() override {
        if (started_.empty()) return;
        std::vector<std::string> arguments = {"end"};
        arguments.insert(arguments.end(), started_.begin(), started_.end());
        EXPECT_EQ(run_tool("dummy-launcher", arguments), (RunResult{0, "", ""}));
    }

    // Copies of the dummy launcher at these paths, started and running;
    // their process ids in the same order.
    std::vector<std::string> start(const std::vector<std::string>& images) {
        std::vector<std::string> arguments = {"start", scratch_path("started")};
        for (const std::string& image : images) {
            const fs::path target = wine::unix_path(image);
            fs::create_directories(target.parent_path());
            fs::copy_file(fs::path(E2E_TOOLS_DIR) / "dummy-launcher.exe", target,
                          fs::copy_options::overwrite_existing);
            arguments.push_back(image);
        }
        const RunResult started = run_tool("dummy-launcher", arguments);
        EXPECT_EQ(started, (RunResult{0, "", ""}));
        std::vector<std::string> ids;
        std::istringstream lines(read_file(scratch_path("started")));
        for (std::string id; std::getline(lines, id);) ids.push_back(id);
        EXPECT_EQ(ids.size(), images.size());
        started_.insert(started_.end(), ids.begin(), ids.end());
        return ids;
    }

    // "<id> running" or "<id> ended" for each process id.
    std::string states(const std::vector<std::string>& ids) {
        std::vector<std::string> arguments = {"running", scratch_path("states")};
        arguments.insert(arguments.end(), ids.begin(), ids.end());
        EXPECT_EQ(run_tool("dummy-launcher", arguments), (RunResult{0, "", ""}));
        return read_file(scratch_path("states"));
    }

    RunResult stop(std::string_view directory) {
        return run_helper({"-Action", "stop", "-Output", scratch_path("context"), "-Directory",
                           std::string(directory)});
    }

private:
    std::vector<std::string> started_;
};

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

TEST_F(StopEndToEnd, EndsExactlyTheInstalledLauncherAndClientServices) {
    const auto installed = start({installation() + "\\Quillmora Launcher.exe",
                                  installation() + "\\QuillmoraClientServices.exe",
                                  installation() + "\\resources\\QuillmoraClientServices.exe"});
    const auto others = start({elsewhere() + "\\Quillmora Launcher.exe",
                               elsewhere() + "\\QuillmoraClientServices.exe",
                               installation() + "\\resources\\Quillmora Launcher.exe",
                               installation() + "\\Quillmora Launcher (2).exe"});

    // The directory as setup may spell it: other letter case, a trailing separator.
    EXPECT_EQ(stop(lowercase(installation()) + "\\"), (RunResult{0, "", ""}));
    EXPECT_EQ(states(installed), installed[0] + " ended\n" + installed[1] + " ended\n" +
                                     installed[2] + " ended\n");
    EXPECT_EQ(states(others), others[0] + " running\n" + others[1] + " running\n" + others[2] +
                                  " running\n" + others[3] + " running\n");
}

TEST_F(StopEndToEnd, LeavesAnotherInstallationsProcessesRunning) {
    EXPECT_EQ(stop(installation()), (RunResult{0, "", ""}));

    const auto others = start({elsewhere() + "\\Quillmora Launcher.exe",
                               elsewhere() + "\\resources\\QuillmoraClientServices.exe"});
    EXPECT_EQ(stop(installation()), (RunResult{0, "", ""}));
    EXPECT_EQ(states(others), others[0] + " running\n" + others[1] + " running\n");
}

TEST_F(StopEndToEnd, RefusesADirectoryThatIsNotTheContextsAndEndsNothing) {
    const auto others = start({elsewhere() + "\\Quillmora Launcher.exe",
                               installation() + "\\Quillmora Launcher.exe"});
    EXPECT_EQ(stop(elsewhere()),
              helper_error("The installation directory differs from setup's context."));
    EXPECT_EQ(states(others), others[0] + " running\n" + others[1] + " running\n");
}

}  // namespace
}  // namespace e2e
