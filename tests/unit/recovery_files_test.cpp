#include "engine/recovery_files.h"

#include "recovery_scenario.h"

#include <gtest/gtest.h>

#include <functional>

using installer_helper::copy_recovery_file;
using installer_helper::replace_recovery_file;

namespace {

using Restart = sim::Machine::Restart;

constexpr win::DWORD share_all =
    win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;

const std::string binary = installed("Quillmora Launcher.exe");
const std::string backup = recovery_file("Quillmora Launcher.exe");

// Three full copy buffers and a few bytes more, no two neighbours alike.
std::string binary_bytes() {
    std::string bytes(3 * 8'192 + 5, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}

class RecoveryFilesTest : public MigrationTest {
protected:
    RecoveryFilesTest() {
        machine.files.add_file(binary, binary_bytes());
        machine.files.add_directory(recovery_directory);
    }
};

TEST_F(RecoveryFilesTest, CopiesOnlyTheBytesInBufferSizedPiecesAndFlushes) {
    machine.files.find(binary)->attributes |=
        win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN;
    // As a running program holds its own executable.
    machine.files.hold_open(binary, win::GENERIC_READ,
                            win::FILE_SHARE_READ | win::FILE_SHARE_DELETE);
    EXPECT_EQ(outcome_of(copy_recovery_file(binary, backup)), "ok");
    EXPECT_EQ(machine.faults.calls("WriteFile"), 4);
    EXPECT_EQ(machine.faults.calls("ReadFile"), 5);  // the last one finds the end
    machine.restart(Restart::power_loss);
    EXPECT_EQ(machine.files.contents(backup), binary_bytes());
    EXPECT_EQ(machine.files.find(backup)->attributes, win::FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(RecoveryFilesTest, NeverWritesOverAnExistingDestination) {
    machine.files.add_file(backup, "earlier");
    EXPECT_EQ(outcome_of(copy_recovery_file(binary, backup)),
              "Cannot create recovery file: The file exists. (os error 80)");
    EXPECT_EQ(machine.files.contents(backup), "earlier");
    EXPECT_EQ(
        outcome_of(copy_recovery_file(installed("missing.exe"), recovery_file("restore.new"))),
        "Cannot read recovery file: The system cannot find the file specified. (os error 2)");
    EXPECT_FALSE(machine.files.exists(recovery_file("restore.new")));
}

struct CopyFailureCase {
    const char* name;
    const char* function;
    int nth;
    win::DWORD error;
    const char* outcome;
    std::size_t left;  // bytes of the partial destination that stays
};

class CopyFailureTest : public RecoveryFilesTest,
                        public ::testing::WithParamInterface<CopyFailureCase> {};

TEST_P(CopyFailureTest, LeavesThePartialCopyForTheNextRun) {
    machine.faults.fail_nth(GetParam().function, GetParam().nth, GetParam().error);
    EXPECT_EQ(outcome_of(copy_recovery_file(binary, backup)), GetParam().outcome);
    EXPECT_EQ(machine.files.contents(backup).size(), GetParam().left);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyFailureTest,
    ::testing::Values(
        CopyFailureCase{"Read", "ReadFile", 2, win::ERROR_NOT_READY,
                        "Cannot persist recovery file: The device is not ready. (os error 21)",
                        8'192},
        CopyFailureCase{"Write", "WriteFile", 3, win::ERROR_DISK_FULL,
                        "Cannot persist recovery file: There is not enough space on the disk. "
                        "(os error 112)",
                        2 * 8'192},
        CopyFailureCase{"Flush", "FlushFileBuffers", 1, win::ERROR_NOT_READY,
                        "Cannot persist recovery file: The device is not ready. (os error 21)",
                        3 * 8'192 + 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecoveryFilesTest, ReplacesInOneStepThatIsOnDiskWhenItReturns) {
    machine.files.add_file(recovery_file("restore.new"), "restored");
    EXPECT_EQ(outcome_of(replace_recovery_file(recovery_file("restore.new"), binary)), "ok");
    machine.restart(Restart::power_loss);
    EXPECT_EQ(machine.files.contents(binary), "restored");
    EXPECT_FALSE(machine.files.exists(recovery_file("restore.new")));
    // A missing destination is simply created by the rename.
    EXPECT_EQ(outcome_of(replace_recovery_file(binary, installed("uninstall.exe"))), "ok");
    EXPECT_EQ(machine.files.contents(installed("uninstall.exe")), "restored");
}

struct ReplaceRefusalCase {
    const char* name;
    std::function<void(sim::FileSystem&)> arrange;
    const char* outcome;
};

class ReplaceRefusalTest : public RecoveryFilesTest,
                           public ::testing::WithParamInterface<ReplaceRefusalCase> {};

TEST_P(ReplaceRefusalTest, LeavesBothFilesAsTheyWere) {
    machine.files.add_file(recovery_file("restore.new"), "restored");
    GetParam().arrange(machine.files);
    EXPECT_EQ(outcome_of(replace_recovery_file(recovery_file("restore.new"), binary)),
              GetParam().outcome);
    EXPECT_EQ(machine.files.contents(recovery_file("restore.new")), "restored");
    EXPECT_EQ(machine.files.contents(binary), binary_bytes());
}

constexpr const char* access_denied =
    "Cannot atomically replace recovery file: Access is denied. (os error 5)";

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceRefusalTest,
    ::testing::Values(
        // A running launcher keeps its binary open.
        ReplaceRefusalCase{
            "DestinationInUse",
            [](auto& files) { files.hold_open(binary, win::GENERIC_READ, share_all); },
            access_denied},
        ReplaceRefusalCase{"SourceLocked",
                           [](auto& files) {
                               files.hold_open(recovery_file("restore.new"), win::GENERIC_READ,
                                               win::FILE_SHARE_READ);
                           },
                           "Cannot atomically replace recovery file: The process cannot access the "
                           "file because it is being used by another process. (os error 32)"}),
    [](const auto& info) { return std::string(info.param.name); });

// Windows refuses to replace a read-only file; its bytes, not its
// attributes, are what a replace promises, so the attribute goes first.
TEST_F(RecoveryFilesTest, ReplacesAReadOnlyDestination) {
    machine.files.add_file(recovery_file("restore.new"), "restored");
    machine.files.find(binary)->attributes |= win::FILE_ATTRIBUTE_READONLY;
    EXPECT_EQ(outcome_of(replace_recovery_file(recovery_file("restore.new"), binary)), "ok");
    EXPECT_EQ(machine.files.contents(binary), "restored");
    EXPECT_FALSE(machine.files.exists(recovery_file("restore.new")));
    // Set again before the move itself: then the move is refused.
    machine.files.add_file(recovery_file("restore.new"), "again");
    machine.faults.before_call("MoveFileExW", 1, [&] {
        machine.files.find(binary)->attributes |= win::FILE_ATTRIBUTE_READONLY;
    });
    EXPECT_EQ(outcome_of(replace_recovery_file(recovery_file("restore.new"), binary)),
              access_denied);
    EXPECT_EQ(machine.files.contents(binary), "restored");
}

}  // namespace
