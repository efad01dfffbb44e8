// The sample setup (samples/setup) under Wine: the NSIS setup runs silently
// on an older installation and drives the real helper through context, begin,
// its own step and commit or rollback; checked by its exit status, the report
// it writes, and the files and registration it leaves.
#include "context_file.h"
#include "host_files.h"
#include "legacy_installation.h"
#include "legacy_installation_test.h"
#include "wine_differences.h"
#include "wine_test.h"

#include <filesystem>

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Setup's context run needs a desktop shell: programs run elevated under Wine.
constexpr RunOptions under_the_shell{.unelevated = false, .desktop_shell = true};

class SampleSetupEndToEnd : public LegacyInstallationTest {
protected:
    // The setup with /S, /REPORT= and these switches, then /D= for
    // installation(); NSIS takes /D= last and unquoted, spaces and all.
    RunResult run_setup(const std::vector<std::string>& switches,
                        const RunOptions& options = under_the_shell,
                        std::string_view name = "quillmora-setup.exe") {
        const std::string setup = wine::windows_path(fs::path(E2E_SAMPLES_DIR) / name);
        std::string command_line = "\"" + setup + "\" /S /REPORT=" + report_file();
        for (const std::string& option : switches) command_line += " " + option;
        command_line += " /D=" + installation();
        fs::remove(wine::unix_path(report_file()));
        return run_program(setup, command_line, options);
    }
    // The setup's closing message, as it writes it: FF FE, UTF-16LE, CR LF.
    static std::string report(std::string_view message) {
        return utf16le(std::string(message) + "\r\n");
    }
    std::string report_file() const { return scratch_path("report.txt"); }

    // The older installation with the setup's binaries in place of its own.
    static FileTree with_new_binaries(FileTree files) {
        for (const std::string_view binary : launcher_binaries)
            files[std::string(binary)] =
                read_host_file(fs::path(E2E_SAMPLES_DIR) / "payload" / binary);
        return files;
    }
    // The launcher's keys as setup writes them over the older ones (a new
    // version), and the older installation's keys gone.
    std::vector<RegistryKey> migrated_registration() const {
        std::vector<RegistryKey> keys = launcher_registration(installation());
        for (RegistryKey& key : keys)
            for (RegistryValue& value : key.values)
                if (value.name == "Version" || value.name == "DisplayVersion")
                    value.data = string_data("2.0.0");
        return keys + absent(legacy_registration(installation()));
    }
    void expect_migrated() {
        EXPECT_EQ(files_now(), with_new_binaries(without_electron_files(legacy_files())));
        EXPECT_EQ(registry_now(), registry_dump(migrated_registration()));
    }
};

TEST_F(SampleSetupEndToEnd, MigratesTheOlderInstallation) {
    install();
    EXPECT_EQ(run_setup({}).status, 0u);
    EXPECT_EQ(read_file(report_file()),
              report("The Quillmora Launcher is installed in " + installation() + "."));
    expect_migrated();
}

TEST_F(SampleSetupEndToEnd, ItsOwnFailedStepIsRolledBack) {
    install();
    const FileTree before = files_now();
    EXPECT_EQ(run_setup({"/FAILSTEP"}).status, 1u);
    EXPECT_EQ(read_file(report_file()),
              report("Setup's own step failed (/FAILSTEP). The previous installation was "
                     "restored."));
    EXPECT_EQ(files_now(), before);
    EXPECT_EQ(registry_now(), registry_dump(installed_registration()));
}

TEST_F(SampleSetupEndToEnd, ALockedCleanupIsReportedAndTheNextRunFinishesIt) {
    install();
    hold("ffmpeg.dll");
    EXPECT_EQ(run_setup({}).status, 2u);
    EXPECT_EQ(read_file(report_file()),
              report("The Quillmora Launcher is installed, but the older installation was not "
                     "fully removed: Cannot remove owned installer file: " +
                     os_error_text(32) + " The next run of setup finishes it."));
    EXPECT_TRUE(exists(installed("ffmpeg.dll")));
    EXPECT_TRUE(exists(installed(std::string(recovery_directory) + "\\journal.json")));

    release();
    EXPECT_EQ(run_setup({}).status, 0u);
    expect_migrated();
}

// Unelevated, the helper's context asks for elevation (Wine's prefix has no
// VC runtime registration), and setup stops before it changes anything.
TEST_F(SampleSetupEndToEnd, StopsWhenTheContextSaysItMustElevate) {
    install();
    const FileTree before = files_now();
    EXPECT_EQ(run_setup({}, {.unelevated = true, .desktop_shell = false}).status, 740u);
    EXPECT_EQ(read_file(report_file()),
              report("Setup must be run again as administrator to install into " +
                     installation() + "."));
    EXPECT_EQ(files_now(), before);
    EXPECT_EQ(registry_now(), registry_dump(installed_registration()));
}

// The same setup around a helper that never answers, with a 3 s limit: it
// ends the helper and says so. (A helper left running would keep the
// runner's output pipes open, and the run would fail.)
TEST_F(SampleSetupEndToEnd, EndsAHelperThatDoesNotAnswer) {
    EXPECT_EQ(run_setup({}, under_the_shell, "quillmora-setup-hung-helper.exe").status, 1u);
    EXPECT_EQ(read_file(report_file()),
              report("Setup cannot prepare the installation: installer-helper -Action context "
                     "did not finish within 3000 ms and was ended."));
}

}  // namespace
}  // namespace e2e
