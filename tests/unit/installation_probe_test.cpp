#include "windows/installation_probe.h"

#include "process_scenario.h"
#include "registry_scenario.h"
#include "simulated_test.h"
#include "windows/registry/registry_value.h"

#include <gtest/gtest.h>

using installer_helper::directory_has_entries;
using installer_helper::installation_requires_elevation;

namespace {

constexpr const char* runtime_key = "SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64";
// The probe's name when the random source gives only zero bytes.
constexpr const char* zero_probe = "C:\\Games\\.quillmora-write-test-00000000000040008000000000000000";

class InstallationProbeTest : public SimulatedTest {
protected:
    void SetUp() override {
        machine.files.add_directory("C:\\Games");
        runtime_installed(1);
    }
    void runtime_installed(std::uint32_t value) {
        machine.registry.set_value(HKLM, runtime_key, "Installed", installer_helper::REG_DWORD, dword_bytes(value));
    }
    void zero_random_bytes() { machine.random.queued.assign(64, 0); }
    std::string answer(std::string_view directory, bool machine_scope = false,
                         bool skip_runtime = false) {
        const auto result = installation_requires_elevation(directory, machine_scope, skip_runtime);
        if (!result) return result.error().message();
        return *result ? "elevate" : "no";
    }
};

TEST_F(InstallationProbeTest, ElevatedNeedsNothingAndTouchesNothing) {
    machine.accounts.elevated = true;
    EXPECT_EQ(answer("C:\\Games\\Quillmora", true), "no");
    EXPECT_EQ(machine.faults.calls("CreateDirectoryW"), 0);
    EXPECT_EQ(machine.faults.calls("RegOpenKeyExW"), 0);
}

TEST_F(InstallationProbeTest, MachineScopeUnelevatedNeedsElevationWithoutAProbe) {
    EXPECT_EQ(answer("C:\\Games\\Quillmora", true), "elevate");
    EXPECT_EQ(machine.faults.calls("CreateDirectoryW"), 0);
}

TEST_F(InstallationProbeTest, ProbesTheNearestExistingDirectoryAndLeavesNothing) {
    zero_random_bytes();
    EXPECT_EQ(answer("C:\\Games\\Quillmora\\Launcher"), "no");
    EXPECT_EQ(machine.faults.calls("CreateDirectoryW"), 1);
    EXPECT_EQ(machine.faults.calls("RemoveDirectoryW"), 1);
    EXPECT_TRUE(machine.files.list("C:\\Games").empty());
    // Each call draws a fresh name.
    machine.faults.fail_always("CreateDirectoryW", win::ERROR_ALREADY_EXISTS, u16(zero_probe));
    EXPECT_EQ(answer("C:\\Games\\Quillmora"), "no");
}

TEST_F(InstallationProbeTest, NoExistingDirectoryAtAll) {
    EXPECT_EQ(answer("Q:\\Games\\Quillmora"), "The installation parent directory is unavailable.");
}

TEST_F(InstallationProbeTest, AJunctionOnTheNearestDirectoryIsRefused) {
    machine.files.add_directory("D:\\Real");
    machine.files.add_junction("C:\\Games\\Link", "D:\\Real");
    EXPECT_EQ(answer("C:\\Games\\Link\\Quillmora"),
              "A junction or symbolic link cannot be modified by setup.");
}

TEST_F(InstallationProbeTest, AccessDeniedMeansElevateAndSkipsTheRegistry) {
    machine.files.find("C:\\Games")->create_child_error = win::ERROR_ACCESS_DENIED;
    EXPECT_EQ(answer("C:\\Games\\Quillmora"), "elevate");
    EXPECT_EQ(machine.faults.calls("RegOpenKeyExW"), 0);
}

TEST_F(InstallationProbeTest, ADirectoryThatRefusesFilesNeedsElevationAndLosesItsProbe) {
    zero_random_bytes();
    machine.faults.fail_always("CreateFileW", win::ERROR_ACCESS_DENIED,
                               u16(std::string(zero_probe) + "\\test"));
    EXPECT_EQ(answer("C:\\Games\\Quillmora"), "elevate");
    EXPECT_TRUE(machine.files.list("C:\\Games").empty());
}

TEST_F(InstallationProbeTest, ProbeFailuresOtherThanAccessDenied) {
    machine.faults.fail_nth("CreateDirectoryW", 1, win::ERROR_DISK_FULL);
    EXPECT_EQ(answer("C:\\Games\\Quillmora"),
              "Could not test installation directory access: There is not enough space on the "
              "disk. (os error 112)");
    zero_random_bytes();
    machine.faults.fail_nth("CreateFileW", 1, win::ERROR_DISK_FULL, u16(std::string(zero_probe) + "\\test"));
    EXPECT_EQ(answer("C:\\Games\\Quillmora"),
              "Could not test installation directory access: There is not enough space on the "
              "disk. (os error 112)");
    EXPECT_TRUE(machine.files.list("C:\\Games").empty());
}

TEST_F(InstallationProbeTest, AProbeWhoseFileCannotBeInspectedIsTakenDownToo) {
    zero_random_bytes();
    // The second open of the file, after the write's, is its inspection.
    machine.faults.fail_nth("CreateFileW", 2, win::ERROR_NOT_READY,
                            u16(std::string(zero_probe) + "\\test"));
    EXPECT_EQ(answer("C:\\Games\\Quillmora"),
              "Cannot inspect installer path: The device is not ready. (os error 21)");
    EXPECT_TRUE(machine.files.list("C:\\Games").empty());
}

TEST_F(InstallationProbeTest, AProbeThatCannotBeRemovedIsReportedAndLeftBehind) {
    zero_random_bytes();
    machine.faults.fail_nth("DeleteFileW", 1, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(answer("C:\\Games\\Quillmora"),
              "Could not remove setup's access probe: Access is denied. (os error 5)");
    EXPECT_TRUE(machine.files.exists(std::string(zero_probe) + "\\test"));
    EXPECT_EQ(machine.faults.calls("RemoveDirectoryW"), 0);
}

TEST_F(InstallationProbeTest, TheRuntimeRegistrationDecides) {
    struct Case {
        std::optional<sim::Bytes> installed;
        win::DWORD type;
        const char* expected;
    } cases[] = {
        {std::nullopt, 0, "elevate"},
        {dword_bytes(0), installer_helper::REG_DWORD, "elevate"},
        {dword_bytes(2), installer_helper::REG_DWORD, "elevate"},
        {dword_bytes(1), installer_helper::REG_DWORD, "no"},
        {string_bytes("1"), installer_helper::REG_SZ, "Expected a registry DWORD."},
        {sim::Bytes{1, 0, 0}, installer_helper::REG_DWORD, "Unsupported or malformed launcher registry value."},
    };
    for (const Case& c : cases) {
        machine.registry.remove_key(HKLM, runtime_key);
        if (c.installed) machine.registry.set_value(HKLM, runtime_key, "Installed", c.type, *c.installed);
        EXPECT_EQ(answer("C:\\Games\\Quillmora"), c.expected);
        EXPECT_EQ(answer("C:\\Games\\Quillmora", false, true), "no") << "skipped runtime check";
    }
}

TEST_F(InstallationProbeTest, ALauncherThatCannotBeEndedNeedsElevation) {
    const auto pid = start_program(machine, launcher_in("C:\\Games\\Quillmora")).pid;
    EXPECT_EQ(answer("C:\\Games\\Quillmora"), "no");
    machine.processes.find(pid)->denied_access = win::PROCESS_TERMINATE;
    EXPECT_EQ(answer("C:\\Games\\Quillmora"), "elevate");
}

TEST_F(InstallationProbeTest, DirectoryEntries) {
    machine.files.add_directory("C:\\Games\\Empty");
    machine.files.add_file("C:\\Games\\Hidden\\desktop.ini").attributes |= win::FILE_ATTRIBUTE_HIDDEN;
    EXPECT_EQ(directory_has_entries("C:\\Games\\Empty"), false);
    EXPECT_EQ(directory_has_entries("C:\\Games\\Hidden"), true);
    EXPECT_EQ(directory_has_entries("C:\\Games\\Missing").error().message(),
              "Cannot inspect the installation directory: The system cannot find the path "
              "specified. (os error 3)");
}

}  // namespace
