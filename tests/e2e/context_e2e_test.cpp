// The context action under Wine: a registry seeded with exact values through
// the ih-reg tool, the written context file compared byte for byte, and the
// output path left as it was by every failure.
#include "context_file.h"
#include "wine_differences.h"
#include "text_encoding.h"
#include "wine_test.h"

#include <cstdio>
#include <filesystem>

namespace e2e {
namespace {

constexpr RunOptions under_the_shell{.unelevated = false, .desktop_shell = true};
constexpr RunOptions unelevated{.unelevated = true, .desktop_shell = false};

// The Wine user's hive; ih-reg reaches it as HKU with the SID in front of the key.
const std::string user_root = "user";
constexpr const char* shell_folders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* launcher_key = "Software\\Quillmora\\Quillmora Launcher";
constexpr const char* legacy_key = "Software\\3b9e2c41-7d05-5a18-9c6e-d41f80a2b7c3";
constexpr const char* runtime_key = "SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64";

constexpr const char* common_desktop = "C:\\users\\Public\\Desktop";
constexpr const char* common_programs = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";

constexpr const char* sentinel = "what setup had here";


class ContextActionEndToEnd : public WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        for (const std::string& root : {user_root, std::string("HKLM")}) {
            registry({"delete-tree", root, "Software\\Quillmora"});
            registry({"delete-tree", root, legacy_key});
        }
        registry({"delete-tree", "HKLM", runtime_key});
        const ContextFile folders;
        set_string(user_root, shell_folders, "Local AppData", folders.local);
        set_string(user_root, shell_folders, "AppData", folders.roaming);
        set_string(user_root, shell_folders, "Desktop", folders.desktop);
        set_string(user_root, shell_folders, "Programs", folders.programs);
        set_string("HKLM", shell_folders, "Common Desktop", common_desktop);
        set_string("HKLM", shell_folders, "Common Programs", common_programs);
    }

    // ih-reg with "user" as root standing for HKU\<the Wine user's SID>.
    void registry(std::vector<std::string> arguments) {
        if (arguments.size() > 2 && arguments[1] == user_root) {
            arguments[1] = "HKU";
            arguments[2] = std::string(wine_user_sid) + "\\" + arguments[2];
        }
        const RunResult result = run_tool("ih-reg", arguments);
        ASSERT_EQ(result.status, 0u) << result.standard_error;
    }
    void set_value(const std::string& root, std::string_view key, std::string_view name,
                   int type, std::string_view data) {
        registry({"set", root, std::string(key), std::string(name), std::to_string(type), hex(data)});
    }
    void set_string(const std::string& root, std::string_view key, std::string_view name,
                    std::string_view text) {
        set_value(root, key, name, 1, string_data(text));
    }
    void runtime_installed(std::uint32_t value) {
        set_value("HKLM", runtime_key, "Installed", 4,
                  std::string{static_cast<char>(value), 0, 0, 0});
    }

    // The Wine user's temporary directory as the helper records it.
    std::string recorded_temp() {
        const RunResult probe = run_tool("ih-probe", {"temp"});
        EXPECT_EQ(probe.status, 0u);
        std::string temp = probe.standard_output;
        while (!temp.empty() && (temp.back() == '\n' || temp.back() == '\\')) temp.pop_back();
        return temp;
    }

    // The file that a capture of `directory` should write.
    ContextFile expected(std::string_view directory, std::string_view scope = "user") {
        ContextFile context;
        context.temp = recorded_temp();
        context.directory = directory;
        context.scope = scope;
        if (scope == "machine") {
            context.desktop = common_desktop;
            context.programs = common_programs;
        }
        return context;
    }

    std::string output() const { return scratch_path("context.ini"); }

    RunResult capture(std::vector<std::string> arguments, const RunOptions& options = under_the_shell) {
        arguments.insert(arguments.begin(), {"-Action", "context", "-Output", output()});
        return run_helper(arguments, options);
    }

    // A failing capture with its message; the output path keeps what it held.
    void expect_failure(const std::vector<std::string>& arguments, std::string_view message,
                        const RunOptions& options = under_the_shell) {
        write_file(output(), sentinel);
        EXPECT_EQ(capture(arguments, options), helper_error(message));
        EXPECT_EQ(read_file(output()), sentinel);
    }
};

TEST_F(ContextActionEndToEnd, WritesTheUserScopeContextOfANewDirectory) {
    const std::string directory = scratch_path("Launcher");
    EXPECT_EQ(capture({"-Directory", directory}), (RunResult{0, "", ""}));
    EXPECT_EQ(read_file(output()), expected(directory).written());
    EXPECT_FALSE(exists(directory)) << "the capture creates nothing";
}

TEST_F(ContextActionEndToEnd, ProgramFilesMeansMachineScopeWithTheCommonFolders) {
    const std::string directory = "C:\\Program Files\\Quillmora e2e";
    EXPECT_EQ(capture({"-Directory", directory}), (RunResult{0, "", ""}));
    EXPECT_EQ(read_file(output()), expected(directory, "machine").written());
    // Unelevated, a machine-scope installation needs elevation.
    EXPECT_EQ(capture({"-Directory", directory}, unelevated), (RunResult{0, "", ""}));
    ContextFile elevated = expected(directory, "machine");
    elevated.elevate = "1";
    EXPECT_EQ(read_file(output()), elevated.written());
}

TEST_F(ContextActionEndToEnd, RegistrationsChooseTheDirectoryAndItsScope) {
    const std::string user_location = scratch_path("User Location");
    const std::string machine_launcher = scratch_path("Machine Launcher");
    set_string(user_root, legacy_key, "InstallLocation", user_location);
    set_string("HKLM", launcher_key, "", machine_launcher);
    // Per-user registrations come first.
    EXPECT_EQ(capture({}), (RunResult{0, "", ""}));
    EXPECT_EQ(read_file(output()), expected(user_location).written());
    // A given directory wins, and one registered per machine is machine scope.
    EXPECT_EQ(capture({"-Directory", machine_launcher}), (RunResult{0, "", ""}));
    EXPECT_EQ(read_file(output()), expected(machine_launcher, "machine").written());
}

TEST_F(ContextActionEndToEnd, AnOccupiedDirectoryGivesWayToItsSubdirectory) {
    const std::string directory = scratch_path("Occupied");
    write_file(directory + "\\notes.txt", "not ours");
    EXPECT_EQ(capture({"-Directory", directory}), (RunResult{0, "", ""}));
    EXPECT_EQ(read_file(output()), expected(directory + "\\Quillmora Launcher").written());
    // With -Uninstall the directory is used as it is.
    EXPECT_EQ(capture({"-Directory", directory, "-Uninstall"}), (RunResult{0, "", ""}));
    EXPECT_EQ(read_file(output()), expected(directory).written());
    // Both occupied: refused.
    write_file(directory + "\\Quillmora Launcher\\other.txt", "not ours either");
    expect_failure({"-Directory", directory},
                   "The selected directory contains unrelated files. Select an empty installation "
                   "directory.");
}

TEST_F(ContextActionEndToEnd, RecognisesALegacyInstallation) {
    const std::string directory = scratch_path("Legacy");
    write_file(directory + "\\resources\\app.asar", "asar");
    write_file(directory + "\\notes.txt", "the player's");
    expect_failure({"-Directory", directory},
                   "The legacy installation is incomplete; repair it before migrating.");
    ContextFile legacy = expected(directory);
    legacy.legacy = "1";
    EXPECT_EQ(capture({"-Directory", directory, "-Uninstall"}), (RunResult{0, "", ""}));
    EXPECT_EQ(read_file(output()), legacy.written());
    write_file(directory + "\\Quillmora Launcher.exe", "MZ");
    EXPECT_EQ(capture({"-Directory", directory}), (RunResult{0, "", ""}));
    EXPECT_EQ(read_file(output()), legacy.written());
}

TEST_F(ContextActionEndToEnd, ChecksTheExpectedUserAndTemporaryDirectory) {
    const std::string directory = scratch_path("Launcher");
    EXPECT_EQ(capture({"-Directory", directory, "-OriginalSid", std::string(wine_user_sid),
                       "-OriginalTemp", recorded_temp()}),
              (RunResult{0, "", ""}));
    EXPECT_EQ(read_file(output()), expected(directory).written());
    expect_failure({"-Directory", directory, "-OriginalSid", "S-1-5-21-0-0-0-1001"},
                   "The original user no longer matches the account setup can launch.");
    expect_failure({"-Directory", directory, "-OriginalTemp", "C:\\Elsewhere"},
                   "The original temporary directory differs from the player account "
                   "environment. Restart setup from the normal desktop.");
}

TEST_F(ContextActionEndToEnd, UnelevatedTheRuntimeRegistrationDecidesElevation) {
    const std::string directory = scratch_path("Launcher");
    ContextFile context = expected(directory);
    context.elevate = "1";  // no VC runtime registered
    EXPECT_EQ(capture({"-Directory", directory}, unelevated), (RunResult{0, "", ""}));
    EXPECT_EQ(read_file(output()), context.written());
    runtime_installed(1);
    context.elevate = "0";
    EXPECT_EQ(capture({"-Directory", directory}, unelevated), (RunResult{0, "", ""}));
    EXPECT_EQ(read_file(output()), context.written());
    // The uninstall run does not look at the runtime.
    runtime_installed(0);
    EXPECT_EQ(capture({"-Directory", directory, "-Uninstall"}, unelevated), (RunResult{0, "", ""}));
    EXPECT_EQ(read_file(output()), context.written());
    // The probes were made in the nearest existing directory and removed again.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(wine::unix_path(scratch())))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"context.ini"});
}

TEST_F(ContextActionEndToEnd, RegistryErrorsEndTheCaptureWithTheirMessages) {
    const std::string directory = scratch_path("Launcher");
    // A value of the wrong shape.
    set_value("HKLM", runtime_key, "Installed", 4, std::string("\x01\x00\x00", 3));
    expect_failure({"-Directory", directory}, "Unsupported or malformed launcher registry value.",
                   unelevated);
    registry({"delete-tree", "HKLM", runtime_key});
    // A string without its terminator.
    set_value(user_root, launcher_key, "", 1, utf16le("C:\\Games", false));
    expect_failure({"-Directory", directory}, "Unsupported or malformed launcher registry value.");
    // A relative registered path, even with -Directory given.
    set_string(user_root, launcher_key, "", "Games\\Launcher");
    expect_failure({"-Directory", directory}, "The installation path must be an absolute local path.");
    registry({"delete-tree", user_root, "Software\\Quillmora"});
    // A registry link on the way to a registration, to a key of the test's own.
    set_string("HKLM", "Software\\Quillmora\\Link Target", "", scratch_path("Elsewhere"));
    registry({"link", user_root, "Software\\Quillmora",
              "\\Registry\\Machine\\Software\\Quillmora\\Link Target"});
    expect_failure({"-Directory", directory}, "A registry symbolic link is not allowed.");
    registry({"delete-key", user_root, "Software\\Quillmora"});
    // A shell folder that is not an absolute path.
    set_string(user_root, shell_folders, "Desktop", "%USERPROFILE%\\Desktop");
    expect_failure({"-Directory", directory}, "Original user folders are unavailable.");
    set_string(user_root, shell_folders, "Desktop", ContextFile().desktop);
}

// A context file that is also known by another name, as a planted hard link
// to a file elsewhere would be, is not written: the other file keeps its
// bytes.
TEST_F(ContextActionEndToEnd, AHardLinkedContextFileIsRefused) {
    const std::string elsewhere = scratch_path("elsewhere.ini");
    write_file(elsewhere, sentinel);
    std::filesystem::create_hard_link(wine::unix_path(elsewhere), wine::unix_path(output()));
    EXPECT_EQ(capture({"-Directory", scratch_path("Launcher")}),
              helper_error("Could not save the installer context: " + os_error_text(5)));
    EXPECT_EQ(read_file(elsewhere), sentinel);
}

}  // namespace
}  // namespace e2e
