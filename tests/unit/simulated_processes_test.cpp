// The simulated process table, shell and environment behave as Windows does
// where the helper depends on it.
#include "simulated_test.h"

#include <gtest/gtest.h>

namespace {

class SimulatedProcessesTest : public SimulatedTest {};

TEST_F(SimulatedProcessesTest, SnapshotWalkNeedsTheFullEntrySizeAndEndsWithNoMoreFiles) {
    const win::HANDLE snapshot = win::CreateToolhelp32Snapshot(win::TH32CS_SNAPPROCESS, 0);
    win::PROCESSENTRY32W entry{};
    entry.dwSize = 564;
    EXPECT_FALSE(win::Process32FirstW(snapshot, &entry));
    EXPECT_EQ(win::GetLastError(), 24u);  // ERROR_BAD_LENGTH
    entry.dwSize = sizeof entry;
    ASSERT_TRUE(win::Process32FirstW(snapshot, &entry));
    EXPECT_EQ(std::u16string_view(entry.szExeFile), u"[System Process]");
    ASSERT_TRUE(win::Process32NextW(snapshot, &entry));
    EXPECT_FALSE(win::Process32NextW(snapshot, &entry));
    EXPECT_EQ(win::GetLastError(), win::ERROR_NO_MORE_FILES);
    win::CloseHandle(snapshot);
}

TEST_F(SimulatedProcessesTest, AnEndedProcessStaysWhileAHandleHoldsItAndItsIdCanBeReused) {
    const win::DWORD pid = machine.processes.start("C:\\a.exe").pid;
    const win::HANDLE process =
        win::OpenProcess(win::SYNCHRONIZE | win::PROCESS_TERMINATE, win::FALSE, pid);
    ASSERT_TRUE(win::TerminateProcess(process, 3));
    EXPECT_EQ(win::WaitForSingleObject(process, 0), win::WAIT_OBJECT_0);
    EXPECT_NE(machine.processes.find(pid), nullptr);
    // Windows refuses to terminate what has already ended.
    EXPECT_FALSE(win::TerminateProcess(process, 3));
    win::CloseHandle(process);
    EXPECT_EQ(machine.processes.find(pid), nullptr);
    EXPECT_EQ(win::OpenProcess(win::SYNCHRONIZE, win::FALSE, pid), nullptr);
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
}

TEST_F(SimulatedProcessesTest, WaitsMoveTheClockInsteadOfSleeping) {
    auto& slow = machine.processes.start("C:\\a.exe");
    slow.exit_delay_ms = 2500;
    const win::HANDLE process =
        win::OpenProcess(win::SYNCHRONIZE | win::PROCESS_TERMINATE, win::FALSE, slow.pid);
    EXPECT_EQ(win::WaitForSingleObject(process, 1000), win::WAIT_TIMEOUT);
    EXPECT_EQ(machine.clock.milliseconds, 1000u);
    ASSERT_TRUE(win::TerminateProcess(process, 1));
    EXPECT_EQ(win::WaitForSingleObject(process, 10000), win::WAIT_OBJECT_0);
    EXPECT_EQ(machine.clock.milliseconds, 3500u);
    win::CloseHandle(process);

    const win::HANDLE unsynchronised =
        win::OpenProcess(win::PROCESS_QUERY_LIMITED_INFORMATION, win::FALSE,
                         machine.processes.start("C:\\b.exe").pid);
    EXPECT_EQ(win::WaitForSingleObject(unsynchronised, 0), win::WAIT_FAILED);
    EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
    win::CloseHandle(unsynchronised);
}

TEST_F(SimulatedProcessesTest, AnEnvironmentBlockFreedWithLocalFreeIsStillOutstanding) {
    machine.environment.profiles[machine.accounts.user_sid] = {u"TMP=C:\\t"};
    win::HANDLE token = nullptr;
    ASSERT_TRUE(win::OpenProcessToken(win::GetCurrentProcess(),
                                      win::TOKEN_QUERY | win::TOKEN_DUPLICATE, &token));
    void* block = nullptr;
    ASSERT_TRUE(win::CreateEnvironmentBlock(&block, token, win::FALSE));
    EXPECT_EQ(std::u16string_view(static_cast<const char16_t*>(block)), u"TMP=C:\\t");
    EXPECT_EQ(win::LocalFree(block), block);
    EXPECT_EQ(machine.outstanding_allocations(), 1u);
    EXPECT_TRUE(win::DestroyEnvironmentBlock(block));
    EXPECT_EQ(machine.outstanding_allocations(), 0u);
    win::CloseHandle(token);
}

}  // namespace
