#include "windows/process/stop.h"

#include "handlers/handlers.h"
#include "installer_context.h"
#include "process_scenario.h"
#include "simulated_test.h"
#include "windows/process/launcher_processes.h"

#include <gtest/gtest.h>

using installer_helper::Done;
using installer_helper::InstallerArguments;
using installer_helper::InstallerContext;
using installer_helper::run_stop;
using installer_helper::stop_installed_processes;
using installer_helper::stop_requires_elevation;
using installer_helper::write_installer_context;

namespace {

constexpr const char* cannot_inspect =
    "Setup cannot inspect a running launcher or Client Services process. Close it or run setup "
    "as administrator before retrying.";
constexpr const char* did_not_exit = "An installed process did not exit before setup.";
constexpr const char* restarted =
    "An installed process restarted while setup was preparing the update.";
constexpr const char* stop_refused =
    "Could not stop the installed launcher or Client Services: Access is denied. (os error 5)";

class StopTest : public SimulatedTest {
protected:
    win::DWORD start(std::string_view image_path) {
        return start_program(machine, image_path).pid;
    }

    std::vector<win::DWORD> terminated() const {
        std::vector<win::DWORD> pids;
        for (const auto& termination : machine.processes.terminations()) {
            EXPECT_EQ(termination.exit_code, 1u);
            pids.push_back(termination.pid);
        }
        return pids;
    }

    std::string stop_error() {
        const auto stopped = stop_installed_processes(installation);
        return stopped ? "(no error)" : stopped.error().message();
    }
};

TEST_F(StopTest, NothingRunningMeansTwoSnapshotsAndNoTermination) {
    start("C:\\Windows\\explorer.exe");
    EXPECT_TRUE(stop_installed_processes(installation));
    EXPECT_EQ(machine.faults.calls("CreateToolhelp32Snapshot"), 2);
    EXPECT_TRUE(terminated().empty());
}

TEST_F(StopTest, EndsExactlyTheInstalledProcessesLaunchersFirst) {
    const auto services = start(client_services_in(installation));
    const auto other_launcher = start(launcher_in(elsewhere));
    const auto first = start(launcher_in(installation));
    const auto resources = start(resources_client_services_in(installation));
    const auto second = start(launcher_in(installation));
    const auto other_services = start(client_services_in(elsewhere));
    const auto third = start(launcher_in(installation));

    ASSERT_TRUE(stop_installed_processes(installation));
    EXPECT_EQ(terminated(), (std::vector{first, second, third, services, resources}));
    EXPECT_TRUE(machine.processes.running(other_launcher));
    EXPECT_TRUE(machine.processes.running(other_services));
    // No wait was needed beyond the processes' own ends.
    EXPECT_EQ(machine.clock.milliseconds, 0u);
}

TEST_F(StopTest, WaitsOnceUpToTenSecondsForEachProcess) {
    const auto slow = start(launcher_in(installation));
    machine.processes.find(slow)->exit_delay_ms = 9999;
    ASSERT_TRUE(stop_installed_processes(installation));
    EXPECT_EQ(machine.clock.milliseconds, 9999u);

    const auto stubborn = start(launcher_in(installation));
    machine.processes.find(stubborn)->exit_delay_ms = sim::Process::never;
    const auto services = start(client_services_in(installation));
    EXPECT_EQ(stop_error(), did_not_exit);
    EXPECT_EQ(machine.clock.milliseconds, 9999u + 10000u);
    // A failed stop leaves the rest running.
    EXPECT_TRUE(machine.processes.running(services));
}

TEST_F(StopTest, ProcessesThatEndOnTheirOwnAreSkipped) {
    const auto gone = start(launcher_in(installation));
    const auto ended = start(launcher_in(installation));
    const auto running = start(client_services_in(installation));
    // After the enumeration (one open per candidate), before the stop pass.
    machine.faults.before_call("OpenProcess", 4, [&] { machine.processes.remove(gone); });
    machine.faults.before_call("OpenProcess", 5, [&] { machine.processes.exit(ended); });

    ASSERT_TRUE(stop_installed_processes(installation));
    EXPECT_EQ(terminated(), (std::vector{running}));
}

TEST_F(StopTest, AnIdTakenOverByAnotherProgramIsLeftAlone) {
    const auto pid = start(launcher_in(installation));
    machine.faults.before_call("OpenProcess", 2, [&] {
        machine.processes.remove(pid);
        sim::Process other;
        other.pid = pid;
        other.image_path = u"C:\\Windows\\notepad.exe";
        machine.processes.start(std::move(other));
    });

    ASSERT_TRUE(stop_installed_processes(installation));
    EXPECT_TRUE(terminated().empty());
    EXPECT_TRUE(machine.processes.running(pid));
}

TEST_F(StopTest, RefusedTermination) {
    const auto pid = start(launcher_in(installation));
    machine.processes.find(pid)->terminate_error = win::ERROR_ACCESS_DENIED;
    EXPECT_EQ(stop_error(), stop_refused);
    EXPECT_TRUE(machine.processes.running(pid));

    // The message keeps the termination's error when the check after it fails too.
    machine.faults.fail_nth("WaitForSingleObject", 3, win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(stop_error(), stop_refused);
}

TEST_F(StopTest, RefusedTerminationOfAProcessThatEndedAnywayIsFine) {
    const auto pid = start(launcher_in(installation));
    machine.faults.before_call("TerminateProcess", 1, [&] { machine.processes.exit(pid); });
    EXPECT_TRUE(stop_installed_processes(installation));
    EXPECT_TRUE(terminated().empty());
}

TEST_F(StopTest, ProcessThatCannotBeOpenedToEndIt) {
    const auto pid = start(launcher_in(installation));
    machine.processes.find(pid)->denied_access = win::PROCESS_TERMINATE;
    EXPECT_EQ(stop_error(), stop_refused);
}

TEST_F(StopTest, ImageThatCannotBeReadAgain) {
    start(launcher_in(installation));
    machine.faults.fail_nth("QueryFullProcessImageNameW", 2, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(stop_error(),
              "Could not inspect a launcher or Client Services process: Access is denied. (os "
              "error 5)");
    EXPECT_TRUE(terminated().empty());
}

TEST_F(StopTest, WaitThatFails) {
    start(launcher_in(installation));
    // The waits: enumeration, before termination, after termination.
    machine.faults.fail_nth("WaitForSingleObject", 3, win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(stop_error(),
              "Could not verify installed process shutdown: The handle is invalid. (os error 6)");
}

TEST_F(StopTest, AProcessStartedAgainIsCaughtByTheFinalCheck) {
    const auto pid = start(launcher_in(installation));
    machine.processes.find(pid)->restarts = true;
    EXPECT_EQ(stop_error(), restarted);
    EXPECT_EQ(terminated(), (std::vector{pid}));
}

TEST_F(StopTest, AProcessThatCannotBeInspectedStopsEverythingEvenFromElsewhere) {
    const auto installed = start(launcher_in(installation));
    sim::Process elevated;
    elevated.image_path = u16(client_services_in(elsewhere));
    elevated.elevated = true;
    machine.processes.start(std::move(elevated));

    EXPECT_EQ(stop_error(), cannot_inspect);
    EXPECT_TRUE(terminated().empty());
    EXPECT_TRUE(machine.processes.running(installed));
    EXPECT_EQ(stop_requires_elevation(installation), true);
}

TEST_F(StopTest, AnInstallationBehindAJunctionIsNotTouched) {
    machine.files.add_directory("D:\\Real");
    machine.files.add_junction("C:\\Games", "D:\\Real");
    const auto pid = machine.processes.start(launcher_in(installation)).pid;
    EXPECT_EQ(stop_error(), "A junction or symbolic link cannot be modified by setup.");
    EXPECT_TRUE(machine.processes.running(pid));
}

TEST_F(StopTest, StopRequiresElevationWhenTerminationWouldBeRefused) {
    EXPECT_EQ(stop_requires_elevation(installation), false);

    const auto pid = start(launcher_in(installation));
    start(launcher_in(elsewhere));
    EXPECT_EQ(stop_requires_elevation(installation), false);
    machine.processes.find(pid)->denied_access = win::PROCESS_TERMINATE;
    EXPECT_EQ(stop_requires_elevation(installation), true);

    // Ending nothing on the way.
    EXPECT_TRUE(terminated().empty());
}

TEST_F(StopTest, StopRequiresElevationIgnoresAProcessThatEndedMeanwhile) {
    const auto pid = start(launcher_in(installation));
    machine.processes.find(pid)->denied_access = win::PROCESS_TERMINATE;
    machine.faults.before_call("OpenProcess", 2, [&] { machine.processes.remove(pid); });
    EXPECT_EQ(stop_requires_elevation(installation), false);
}

TEST_F(StopTest, StopRequiresElevationReportsOtherOpenErrors) {
    start(launcher_in(installation));
    machine.faults.fail_nth("OpenProcess", 2, win::ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(stop_requires_elevation(installation).error().message(),
              "Could not inspect service shutdown permissions: Not enough memory resources are "
              "available to process this command. (os error 8)");
}

// --- the stop action ---

class RunStopTest : public StopTest {
protected:
    InstallerArguments arguments;

    void SetUp() override {
        machine.files.add_directory("C:\\Setup");
        InstallerContext context{
            .sid = machine.accounts.user_sid,
            .temp = "C:\\Users\\p\\AppData\\Local\\Temp",
            .desktop = "C:\\Users\\p\\Desktop",
            .programs = "C:\\Users\\p\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
            .local = "C:\\Users\\p\\AppData\\Local",
            .roaming = "C:\\Users\\p\\AppData\\Roaming",
            .directory = std::string(installation),
        };
        ASSERT_TRUE(write_installer_context("C:\\Setup\\context", context));
        arguments.action = installer_helper::Action::Stop;
        arguments.output = "C:\\Setup\\context";
    }
};

TEST_F(RunStopTest, StopsTheContextsInstallation) {
    const auto pid = start(launcher_in(installation));
    const auto other = start(launcher_in(elsewhere));
    arguments.directory = "c:\\games\\quillmora\\";
    const auto result = run_stop(arguments);
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(*result, installer_helper::ActionOutcome(Done{}));
    EXPECT_EQ(terminated(), (std::vector{pid}));
    EXPECT_TRUE(machine.processes.running(other));
}

TEST_F(RunStopTest, RefusesAnotherDirectoryBeforeLookingAtProcesses) {
    start(launcher_in(elsewhere));
    arguments.directory = std::string(elsewhere);
    const auto result = run_stop(arguments);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), installer_helper::resolve_action_directory(
                                  elsewhere, *installer_helper::read_installer_context(
                                                 arguments.output))
                                  .error());
    EXPECT_EQ(machine.faults.calls("CreateToolhelp32Snapshot"), 0);
}

}  // namespace
