#include "windows/process/launcher_processes.h"

#include "process_scenario.h"
#include "simulated_test.h"

#include <gtest/gtest.h>

using installer_helper::enumerate_launcher_processes;
using installer_helper::installed_process_ids;
using installer_helper::is_installed_executable;
using installer_helper::LauncherProcess;
using installer_helper::process_image_path;

namespace {

constexpr const char* cannot_inspect =
    "Setup cannot inspect a running launcher or Client Services process. Close it or run setup "
    "as administrator before retrying.";

class LauncherProcessesTest : public SimulatedTest {
protected:
    std::vector<LauncherProcess> enumerate() {
        auto found = enumerate_launcher_processes();
        EXPECT_TRUE(found) << found.error().message();
        return found.value_or(std::vector<LauncherProcess>{});
    }

    win::DWORD start_named(std::u16string exe_name, std::string_view image_path) {
        sim::Process process;
        process.exe_name = std::move(exe_name);
        process.image_path = u16(image_path);
        return machine.processes.start(std::move(process)).pid;
    }
};

LauncherProcess seen(win::DWORD pid, std::string image_path, bool is_launcher) {
    return LauncherProcess{std::move(image_path), pid, is_launcher};
}

TEST_F(LauncherProcessesTest, NamesMatchIgnoringAsciiCaseOnly) {
    const auto launcher = start_named(u"quillmora launcher.EXE", launcher_in(installation));
    const auto services = start_named(u"QUILLMORACLIENTSERVICES.exe", client_services_in(installation));
    start_named(u"Quillmora Launcher.exe.bak", launcher_in(installation));
    start_named(u"QuillmoraLauncher.exe", launcher_in(installation));
    start_named(u"Quillmora Launcher.ex", launcher_in(installation));
    start_named(u"Qu\u0131llmora Launcher.exe", launcher_in(installation));
    start_named(u"explorer.exe", "C:\\Windows\\explorer.exe");

    EXPECT_EQ(enumerate(), (std::vector{seen(launcher, launcher_in(installation), true),
                                        seen(services, client_services_in(installation), false)}));
}

TEST_F(LauncherProcessesTest, LaunchersComeFirstEachGroupInSnapshotOrder) {
    const auto services = start_named(u"QuillmoraClientServices.exe", client_services_in(elsewhere));
    const auto first = start_named(u"Quillmora Launcher.exe", launcher_in(elsewhere));
    const auto resources =
        start_named(u"QuillmoraClientServices.exe", resources_client_services_in(installation));
    const auto second = start_named(u"Quillmora Launcher.exe", launcher_in(installation));

    EXPECT_EQ(enumerate(),
              (std::vector{seen(first, launcher_in(elsewhere), true),
                           seen(second, launcher_in(installation), true),
                           seen(services, client_services_in(elsewhere), false),
                           seen(resources, resources_client_services_in(installation), false)}));
}

TEST_F(LauncherProcessesTest, EndedProcessesAreSkipped) {
    const auto gone = start_named(u"Quillmora Launcher.exe", launcher_in(installation));
    const auto ended = start_named(u"Quillmora Launcher.exe", launcher_in(installation));
    const auto running = start_named(u"Quillmora Launcher.exe", launcher_in(installation));
    machine.processes.exit(ended);
    // The first one ends between the snapshot and the open.
    machine.faults.before_call("OpenProcess", 1, [&] { machine.processes.remove(gone); });

    EXPECT_EQ(enumerate(), (std::vector{seen(running, launcher_in(installation), true)}));
}

TEST_F(LauncherProcessesTest, UnreadableProcessesAreKeptWithoutAnImagePath) {
    machine.accounts.elevated = false;
    sim::Process elevated;
    elevated.exe_name = u"Quillmora Launcher.exe";
    elevated.image_path = u16(launcher_in(elsewhere));
    elevated.elevated = true;
    const auto refused = machine.processes.start(std::move(elevated)).pid;
    const auto unreadable = start_named(u"QuillmoraClientServices.exe", client_services_in(elsewhere));
    machine.faults.fail_always("QueryFullProcessImageNameW", win::ERROR_ACCESS_DENIED,
                               u16(client_services_in(elsewhere)));

    EXPECT_EQ(enumerate(), (std::vector{LauncherProcess{std::nullopt, refused, true},
                                        LauncherProcess{std::nullopt, unreadable, false}}));
}

TEST_F(LauncherProcessesTest, SnapshotFailures) {
    machine.faults.fail_nth("CreateToolhelp32Snapshot", 1, win::ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(enumerate_launcher_processes().error().message(),
              "Could not enumerate launcher processes: Not enough memory resources are available "
              "to process this command. (os error 8)");

    start_named(u"Quillmora Launcher.exe", launcher_in(installation));
    machine.faults.fail_nth("Process32NextW", 2, win::ERROR_NOT_READY);
    EXPECT_EQ(enumerate_launcher_processes().error().message(),
              "Could not finish enumerating launcher processes: The device is not ready. (os error "
              "21)");

    machine.faults.fail_nth("Process32FirstW", 1, win::ERROR_NO_MORE_FILES);
    EXPECT_EQ(enumerate(), std::vector<LauncherProcess>{});
    machine.faults.fail_nth("Process32FirstW", 1, win::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(enumerate_launcher_processes());
}

TEST_F(LauncherProcessesTest, ImagePathOfAnOpenedProcess) {
    const std::string long_directory = "C:\\" + std::string(300, 'a') + "\\" + std::string(200, 'b');
    const auto pid = start_named(u"Quillmora Launcher.exe", launcher_in(long_directory));
    const win::HANDLE process = win::OpenProcess(win::PROCESS_QUERY_LIMITED_INFORMATION, 0, pid);
    EXPECT_EQ(process_image_path(process), launcher_in(long_directory));

    machine.faults.fail_nth("QueryFullProcessImageNameW", 1, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(process_image_path(process).error().message(),
              "Could not inspect a launcher or Client Services process: Access is denied. (os "
              "error 5)");
    win::CloseHandle(process);
}

TEST_F(LauncherProcessesTest, IsInstalledExecutableOnlyForTheThreeInstalledLocations) {
    for (const std::string& image : {launcher_in(installation), client_services_in(installation),
                                     resources_client_services_in(installation),
                                     std::string("c:\\games\\QUILLMORA\\quillmora launcher.exe"),
                                     std::string("C:/Games/Quillmora/x/../Quillmora Launcher.exe")})
        EXPECT_TRUE(is_installed_executable(installation, image)) << image;
    for (const std::string& image :
         {launcher_in(elsewhere), launcher_in("C:\\Games\\Quillmora\\resources"),
          launcher_in("C:\\Games"), std::string("C:\\Games\\Quillmora\\Quillmora Launcher.exe.bak"),
          std::string("\\\\?\\C:\\Games\\Quillmora\\Quillmora Launcher.exe"), std::string()})
        EXPECT_FALSE(is_installed_executable(installation, image)) << image;
}

TEST_F(LauncherProcessesTest, InstalledProcessIdsKeepListOrderAndSkipOthers) {
    const std::vector list{seen(1, launcher_in(elsewhere), true),
                           seen(2, launcher_in(installation), true),
                           seen(3, resources_client_services_in(installation), false),
                           seen(4, client_services_in(installation), false)};
    EXPECT_EQ(installed_process_ids(installation, list), (std::vector<std::uint32_t>{2, 3, 4}));
}

TEST_F(LauncherProcessesTest, InstalledProcessIdsRefuseAnUninspectableProcessAnywhere) {
    const std::vector list{seen(2, launcher_in(installation), true),
                           LauncherProcess{std::nullopt, 7, false}};
    EXPECT_EQ(installed_process_ids(installation, list).error().message(), cannot_inspect);
}

TEST_F(LauncherProcessesTest, InstalledProcessIdsRefuseAnImageUnderAJunction) {
    machine.files.add_directory("D:\\Real");
    machine.files.add_junction("C:\\Games\\Quillmora\\resources", "D:\\Real");
    const std::vector list{seen(3, resources_client_services_in(installation), false)};
    EXPECT_EQ(installed_process_ids(installation, list).error().message(),
              "A junction or symbolic link cannot be modified by setup.");
}

}  // namespace
