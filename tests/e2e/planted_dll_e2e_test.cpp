// No library is ever loaded from the helper's own folder. Setup runs the
// helper from its download folder, where anyone may have left a DLL: a copy
// of the helper runs here from a folder that holds planted-dll.dll under the
// name of every library the helper loads and of those these load in turn,
// along every path that loads a library. No planted DLL may run, and each run
// ends as the action must.
#include "context_file.h"
#include "legacy_installation_test.h"
#include "planted_dlls.h"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <array>
#include <filesystem>

namespace e2e {
namespace {

namespace fs = std::filesystem;

const RunResult done{0, "", ""};
constexpr RunOptions elevated{};
constexpr RunOptions under_the_shell{.unelevated = false, .desktop_shell = true};
constexpr RunOptions unelevated{.unelevated = true, .desktop_shell = false};

// What the helper imports and loads, and what Wine's builtin versions of
// those import. (Windows takes the known DLLs among them from System32 alone.)
constexpr std::array<std::string_view, 14> planted_libraries = {
    "kernel32.dll",   "kernelbase.dll", "ntdll.dll",   "advapi32.dll", "sechost.dll",
    "msvcrt.dll",     "ucrtbase.dll",   "user32.dll",  "gdi32.dll",    "win32u.dll",
    "version.dll",    "userenv.dll",    "bcrypt.dll",  "bcryptprimitives.dll"};

class PlantedDllEndToEnd : public LegacyInstallationTest {
protected:
    void SetUp() override {
        LegacyInstallationTest::SetUp();
        plant_dlls(folder(), planted_libraries);
    }

    std::string folder() const { return scratch_path("Downloads"); }
    std::string loaded() const { return loaded_planted_dlls(folder()); }
    RunResult run_in_folder(const fs::path& program, const std::vector<std::string>& arguments,
                            const RunOptions& options) {
        return run_copy_in(*this, folder(), program, arguments, options);
    }
};

// The planted folder works: a program in it that loads a library by name
// alone gets the planted copy, which refuses to load and leaves its name.
TEST_F(PlantedDllEndToEnd, APlainLoadBesideAProgramRunsThePlantedCopy) {
    const fs::path probe = fs::path(E2E_TOOLS_DIR) / "ih-probe.exe";
    EXPECT_EQ(run_in_folder(probe, {"export", "userenv.dll", "CreateEnvironmentBlock"}, elevated),
              (RunResult{0, "missing\n", ""}));
    EXPECT_EQ(run_in_folder(probe, {"export", "bcryptprimitives.dll", "ProcessPrng"}, elevated),
              (RunResult{0, "missing\n", ""}));
    EXPECT_EQ(loaded(), "userenv.dll\nbcryptprimitives.dll\n");
}

// What the installation holds when the action runs.
enum class Found { nothing, installation, begun_migration };

struct PlantedCase {
    std::string_view name;
    std::string_view action;
    RunOptions options;
    Found found;
    RunResult result;
};

void PrintTo(const PlantedCase& planted, std::ostream* out) { *out << planted.name; }

const std::vector<PlantedCase> PLANTED_CASES = {
    // Nothing but the start itself.
    {"UnknownAction", "nope", elevated, Found::nothing,
     helper_error("A supported installer action is required.")},
    // The shell's owner and its environment: USER32 and USERENV.
    {"ContextUnderTheShell", "context", under_the_shell, Found::nothing, done},
    // The access probe's random name: bcryptprimitives, then bcrypt.
    {"ContextUnelevated", "context", unelevated, Found::nothing, done},
    {"ValidateLaunchUnderTheShell", "validate-launch", under_the_shell, Found::nothing, done},
    {"PrepareVerificationUnderTheShell", "prepare-verification", under_the_shell,
     Found::nothing, done},
    {"Stop", "stop", elevated, Found::installation, done},
    {"Begin", "begin", elevated, Found::installation, done},
    {"Commit", "commit", elevated, Found::begun_migration, done},
    {"Rollback", "rollback", elevated, Found::begun_migration, done},
};

class PlantedDllActionEndToEnd : public PlantedDllEndToEnd,
                                 public ::testing::WithParamInterface<PlantedCase> {
protected:
    // Verification directories live in the Wine user's temporary directory.
    void TearDown() override {
        if (!verification_.empty()) fs::remove_all(wine::unix_path(verification_));
    }

    void prepare(Found found) {
        if (found == Found::nothing) return;
        install();
        if (found == Found::begun_migration) {
            ASSERT_EQ(run_helper(action_arguments("begin")), done);
        }
    }

    std::vector<std::string> arguments(std::string_view action) {
        if (action == "validate-launch")
            return {"-Action", "validate-launch", "-Output", context_file()};
        if (action == "prepare-verification") {
            const std::string nonce = boost::uuids::to_string(boost::uuids::random_generator()());
            verification_ = ContextFile().temp + "\\quillmora-migration-" + nonce;
            return {"-Action", "prepare-verification", "-Output", context_file(), "-Nonce", nonce};
        }
        return action_arguments(action);
    }

private:
    std::string verification_;
};

TEST_P(PlantedDllActionEndToEnd, LoadsNoPlantedDllAndEndsAsItMust) {
    const PlantedCase& planted = GetParam();
    prepare(planted.found);
    EXPECT_EQ(run_in_folder(E2E_HELPER_EXE, arguments(planted.action), planted.options),
              planted.result);
    EXPECT_EQ(loaded(), "") << "these planted DLLs were loaded";
}

std::string planted_case_name(const ::testing::TestParamInfo<PlantedCase>& info) {
    return std::string(info.param.name);
}

INSTANTIATE_TEST_SUITE_P(Every, PlantedDllActionEndToEnd, ::testing::ValuesIn(PLANTED_CASES),
                         planted_case_name);

}  // namespace
}  // namespace e2e
