#include "context_capture.h"

#include "installer_context.h"
#include "registry_scenario.h"
#include "simulated_test.h"
#include "windows/registry/registry_value.h"

#include <gtest/gtest.h>

using installer_helper::capture_installer_context;
using installer_helper::CaptureRequest;
using installer_helper::InstallerContext;
using installer_helper::read_installer_context;
using installer_helper::RegistryScope;

namespace {

constexpr const char* shell_folders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* launcher_key = "Software\\Quillmora\\Quillmora Launcher";
constexpr const char* legacy_key = "Software\\3b9e2c41-7d05-5a18-9c6e-d41f80a2b7c3";
constexpr const char* runtime_key = "SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64";
constexpr const char* output = "C:\\Setup\\context.ini";
constexpr const char* occupied =
    "The selected directory contains unrelated files. Select an empty installation directory.";
constexpr const char* incomplete = "The legacy installation is incomplete; repair it before migrating.";

class ContextCaptureTest : public SimulatedTest {
protected:
    void SetUp() override {
        machine.accounts.user_sid = std::string(player_sid);
        machine.files.add_directory("C:\\Users\\player\\AppData\\Local\\Temp");
        machine.files.add_directory("C:\\Setup");
        user_string(shell_folders, "Local AppData", "C:\\Users\\player\\AppData\\Local");
        user_string(shell_folders, "AppData", "C:\\Users\\player\\AppData\\Roaming");
        user_string(shell_folders, "Desktop", "C:\\Users\\player\\Desktop");
        user_string(shell_folders, "Programs", "C:\\Users\\player\\Start Menu\\Programs");
        machine_string(shell_folders, "Common Desktop", "C:\\Users\\Public\\Desktop");
        machine_string(shell_folders, "Common Programs", "C:\\ProgramData\\Start Menu\\Programs");
        machine.registry.set_value(HKLM, runtime_key, "Installed", installer_helper::REG_DWORD,
                                   dword_bytes(1));
        machine.environment.set_variable(u"ProgramW6432", u"C:\\Program Files");
        machine.environment.set_variable(u"ProgramFiles(x86)", u"C:\\Program Files (x86)");
    }
    void user_string(std::string_view key, std::string_view name, std::string_view text) {
        machine.registry.set_value(HKU, std::string(player_sid) + "\\" + std::string(key), name,
                                   installer_helper::REG_SZ, string_bytes(text));
    }
    void machine_string(std::string_view key, std::string_view name, std::string_view text) {
        machine.registry.set_value(HKLM, key, name, installer_helper::REG_SZ, string_bytes(text));
    }

    // The written context, or the error's message.
    std::variant<InstallerContext, std::string> capture(std::optional<std::string> directory,
                                                        bool uninstall = false) {
        const auto captured = capture_installer_context(
            CaptureRequest{output, std::move(directory), std::nullopt, std::nullopt, uninstall});
        if (!captured) return captured.error().message();
        const auto written = read_installer_context(output);
        EXPECT_TRUE(written) << written.error().message();
        return written.value_or(InstallerContext{});
    }
    std::string directory_of(std::optional<std::string> directory, bool uninstall = false) {
        const auto result = capture(std::move(directory), uninstall);
        if (const auto* error = std::get_if<std::string>(&result)) return *error;
        return std::get<InstallerContext>(result).directory;
    }
    InstallerContext context_of(std::optional<std::string> directory, bool uninstall = false) {
        const auto result = capture(std::move(directory), uninstall);
        EXPECT_TRUE(std::holds_alternative<InstallerContext>(result))
            << std::get<std::string>(result);
        return std::holds_alternative<InstallerContext>(result) ? std::get<InstallerContext>(result)
                                                                 : InstallerContext{};
    }
    // A failing capture leaves the output path as it was.
    std::string failure(std::optional<std::string> directory, bool uninstall = false) {
        sim::Node* file = machine.files.find(output);
        if (file == nullptr) file = &machine.files.add_file(output);
        file->data = file->durable = {'s', 'e', 't', 'u', 'p'};
        const auto result = capture(std::move(directory), uninstall);
        EXPECT_EQ(machine.files.contents(output), "setup");
        const auto* error = std::get_if<std::string>(&result);
        return error ? *error : "succeeded";
    }
};

TEST_F(ContextCaptureTest, WritesEverythingItLearnedAboutTheUserAndDirectory) {
    machine.files.add_drive('D');
    machine.environment.set_variable(u"SystemDrive", u"D:");
    const InstallerContext expected{
        .sid = std::string(player_sid),
        .temp = "C:\\Users\\player\\AppData\\Local\\Temp",
        .desktop = "C:\\Users\\player\\Desktop",
        .programs = "C:\\Users\\player\\Start Menu\\Programs",
        .local = "C:\\Users\\player\\AppData\\Local",
        .roaming = "C:\\Users\\player\\AppData\\Roaming",
        .directory = "D:\\Quillmora\\Launcher",
        .scope = RegistryScope::User,
        .legacy = false,
        .elevate = false};
    EXPECT_EQ(context_of(std::nullopt), expected);
    EXPECT_FALSE(machine.files.exists("D:\\Quillmora"));
    machine.environment.unset_variable(u"SystemDrive");
    EXPECT_EQ(directory_of(std::nullopt), "C:\\Quillmora\\Launcher");
}

TEST_F(ContextCaptureTest, ProgramFilesIsMachineScopeWithTheCommonFolders) {
    const InstallerContext context = context_of("C:\\Program Files\\Quillmora");
    EXPECT_EQ(context.scope, RegistryScope::Machine);
    EXPECT_EQ(context.desktop, "C:\\Users\\Public\\Desktop");
    EXPECT_EQ(context.programs, "C:\\ProgramData\\Start Menu\\Programs");
    EXPECT_EQ(context.local, "C:\\Users\\player\\AppData\\Local");
    EXPECT_TRUE(context.elevate) << "unelevated, machine scope needs elevation";
    EXPECT_EQ(context_of("C:\\Program Files").scope, RegistryScope::Machine);
    EXPECT_EQ(context_of("C:\\Program Files (x86)\\Q").scope, RegistryScope::Machine);
    EXPECT_EQ(context_of("C:\\Program Filesx\\Q").scope, RegistryScope::User);
}

TEST_F(ContextCaptureTest, RegistrationsDecideDirectoryAndScope) {
    user_string(std::string(legacy_key), "InstallLocation", "C:\\Program Files\\Old\\");
    machine_string(launcher_key, "", "C:\\games\\machine");
    EXPECT_EQ(directory_of(std::nullopt), "C:\\Program Files\\Old");
    EXPECT_EQ(context_of(std::nullopt).scope, RegistryScope::User) << "user registration wins";
    EXPECT_EQ(context_of("C:\\Games\\Machine").scope, RegistryScope::Machine);
    machine_string(launcher_key, "", "C:\\Program Files\\Old");
    EXPECT_EQ(context_of(std::nullopt).scope, RegistryScope::Machine) << "both: machine";
    user_string(launcher_key, "", "C:\\Launcher");
    EXPECT_EQ(directory_of(std::nullopt), "C:\\Launcher") << "user launcher comes first";
    user_string(launcher_key, "", "");
    EXPECT_EQ(directory_of(std::nullopt), "C:\\Program Files\\Old") << "empty is absent";
    user_string(launcher_key, "", "Games\\Launcher");
    EXPECT_EQ(failure("C:\\Games"), "The installation path must be an absolute local path.");
}

TEST_F(ContextCaptureTest, AnOccupiedDirectoryGivesWayToItsSubdirectory) {
    machine.files.add_directory("C:\\Empty");
    machine.files.add_file("C:\\Busy\\notes.txt");
    EXPECT_EQ(directory_of("C:\\Empty"), "C:\\Empty");
    EXPECT_EQ(directory_of("C:\\Busy"), "C:\\Busy\\Quillmora Launcher");
    EXPECT_EQ(directory_of("C:\\Busy", true), "C:\\Busy");
    machine.files.add_directory("C:\\Busy\\Quillmora Launcher");
    EXPECT_EQ(directory_of("C:\\Busy"), "C:\\Busy\\Quillmora Launcher");
    machine.files.add_file("C:\\Busy\\Quillmora Launcher\\x");
    EXPECT_EQ(failure("C:\\Busy"), occupied);
    machine.files.add_file("C:\\Busy\\Quillmora Launcher.exe", "MZ");
    EXPECT_EQ(directory_of("C:\\Busy"), "C:\\Busy");
    machine.files.add_junction("C:\\Linked\\Quillmora Launcher", "C:\\Empty");
    machine.files.add_file("C:\\Linked\\notes.txt");
    EXPECT_EQ(failure("C:\\Linked"), "A junction or symbolic link cannot be modified by setup.");
}

TEST_F(ContextCaptureTest, LegacyInstallations) {
    machine.files.add_file("C:\\Legacy\\resources\\app.asar");
    EXPECT_EQ(failure("C:\\Legacy"), incomplete);
    EXPECT_TRUE(context_of("C:\\Legacy", true).legacy);
    machine.files.add_file("C:\\Legacy\\Quillmora Launcher.exe", "MZ");
    EXPECT_TRUE(context_of("C:\\Legacy").legacy);
    machine.files.add_directory("C:\\Migrating\\.quillmora-migration");
    machine.files.add_file("C:\\Migrating\\Quillmora Launcher.exe", "MZ");
    EXPECT_TRUE(context_of("C:\\Migrating").legacy);
    machine.files.add_directory("C:\\Fresh");
    EXPECT_FALSE(context_of("C:\\Fresh").legacy);
}

TEST_F(ContextCaptureTest, ShellFoldersMustBeAbsolutePaths) {
    for (const char* desktop : {"", "Desktop", "\\\\.\\pipe\\desktop", "%USERPROFILE%\\Desktop"}) {
        user_string(shell_folders, "Desktop", desktop);
        EXPECT_EQ(failure("C:\\Games"), "Original user folders are unavailable.") << desktop;
    }
    user_string(shell_folders, "Desktop", "\\\\server\\share\\Desktop");
    EXPECT_EQ(context_of("C:\\Games").desktop, "\\\\server\\share\\Desktop") << "kept as stored";
    machine.registry.remove_key(HKLM, shell_folders);
    EXPECT_EQ(failure("C:\\Program Files\\Q"), "Original user folders are unavailable.");
}

}  // namespace
