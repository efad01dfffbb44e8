#include "engine/owned_files.h"

#include "migration_scenario.h"

#include <gtest/gtest.h>

#include <functional>

using installer_helper::remove_empty_directory;
using installer_helper::remove_owned_file;
using installer_helper::remove_owned_file_if_present;

namespace {

constexpr const char* retained = "Expected an owned regular file; existing data was retained.";
constexpr const char* link_refused = "A junction or symbolic link cannot be modified by setup.";
constexpr win::DWORD share_all =
    win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;

const std::string asar = installed("resources/app.asar");

struct PresentCase {
    const char* name;
    std::function<void(sim::FileSystem&)> arrange;
    const char* outcome;
    bool remains;  // the entry at the owned name
};

class RemoveOwnedFileIfPresentTest : public MigrationTest,
                                     public ::testing::WithParamInterface<PresentCase> {};

TEST_P(RemoveOwnedFileIfPresentTest, DeletesOnlyARegularFile) {
    machine.files.add_file("D:\\Elsewhere\\app.asar");
    GetParam().arrange(machine.files);
    EXPECT_EQ(outcome_of(remove_owned_file_if_present(asar)), GetParam().outcome);
    EXPECT_EQ(machine.files.exists(asar), GetParam().remains);
    EXPECT_TRUE(machine.files.exists("D:\\Elsewhere\\app.asar"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveOwnedFileIfPresentTest,
    ::testing::Values(
        PresentCase{"Missing", [](auto&) {}, "ok", false},
        PresentCase{"Regular", [](auto& files) { files.add_file(asar); }, "ok", false},
        PresentCase{"ReadOnlyHiddenSystem",
                    [](auto& files) {
                        files.add_file(asar).attributes |= win::FILE_ATTRIBUTE_READONLY |
                                                           win::FILE_ATTRIBUTE_HIDDEN |
                                                           win::FILE_ATTRIBUTE_SYSTEM;
                    },
                    "ok", false},
        PresentCase{"Directory", [](auto& files) { files.add_directory(asar); }, retained, true},
        PresentCase{"FileLink",
                    [](auto& files) {
                        files.add_symbolic_link(asar, "D:\\Elsewhere\\app.asar", false);
                    },
                    link_refused, true},
        // The name then lies behind the junction.
        PresentCase{"JunctionedParent",
                    [](auto& files) {
                        files.add_junction(installed("resources"), "D:\\Elsewhere");
                    },
                    link_refused, false}),
    [](const auto& info) { return std::string(info.param.name); });

class RemoveOwnedFileTest : public MigrationTest {};

TEST_F(RemoveOwnedFileTest, LeavesWhateverReplacedTheFile) {
    machine.files.add_file("D:\\Elsewhere\\app.asar");
    machine.files.add_directory(installed("locales"));
    machine.files.add_junction(installed("native"), "D:\\Elsewhere");
    machine.files.add_symbolic_link(asar, "D:\\Elsewhere\\app.asar", false);
    for (const std::string& path : {installed("locales"), installed("native"), asar}) {
        EXPECT_EQ(outcome_of(remove_owned_file(path)), retained) << path;
        EXPECT_TRUE(machine.files.exists(path)) << path;
    }
    EXPECT_EQ(machine.faults.calls("SetFileInformationByHandle"), 0);
}

TEST_F(RemoveOwnedFileTest, ARefusedDeleteIsRetriedIgnoringReadOnlyWhileOthersHoldTheFile) {
    machine.files.add_file(asar);
    machine.files.hold_open(asar, win::GENERIC_READ, share_all);
    // Another program marks the file read-only again right before the delete.
    machine.faults.before_call("SetFileInformationByHandle", 1, [&] {
        machine.files.find(asar)->attributes |= win::FILE_ATTRIBUTE_READONLY;
    });
    EXPECT_EQ(outcome_of(remove_owned_file(asar)), "ok");
    EXPECT_FALSE(machine.files.exists(asar));
    EXPECT_TRUE(win::RemoveDirectoryW(u16(installed("resources")).c_str()));
}

TEST_F(RemoveOwnedFileTest, ReportsWhyTheFileStays) {
    machine.files.add_file(asar);
    const int exclusive = machine.files.hold_open(asar, win::GENERIC_READ, win::FILE_SHARE_READ);
    EXPECT_EQ(outcome_of(remove_owned_file(asar)),
              "Cannot remove owned installer file: The process cannot access the file because it "
              "is being used by another process. (os error 32)");
    EXPECT_EQ(machine.faults.calls("SetFileInformationByHandle"), 0);
    machine.files.release(exclusive);
    // Refused both ways: the first refusal is the one reported.
    machine.files.find(asar)->delete_error = win::ERROR_ACCESS_DENIED;
    EXPECT_EQ(outcome_of(remove_owned_file(asar)),
              "Cannot remove owned installer file: Access is denied. (os error 5)");
    EXPECT_EQ(machine.faults.calls("SetFileInformationByHandle"), 2);
    // A failure before the delete (clearing the read-only attribute) is the
    // I/O error alone.
    machine.files.find(asar)->attributes |= win::FILE_ATTRIBUTE_READONLY;
    machine.faults.fail_nth("SetFileInformationByHandle", 1, win::ERROR_DISK_FULL);
    EXPECT_EQ(outcome_of(remove_owned_file(asar)),
              "There is not enough space on the disk. (os error 112)");
    EXPECT_TRUE(machine.files.exists(asar));
}

TEST_F(RemoveOwnedFileTest, RemovesOnlyAnEmptyDirectory) {
    machine.files.add_file(installed("locales\\en-US.pak"));
    EXPECT_EQ(outcome_of(remove_empty_directory(installed("locales"))),
              "Cannot remove empty owned directory: The directory is not empty. (os error 145)");
    EXPECT_TRUE(win::DeleteFileW(u16(installed("locales\\en-US.pak")).c_str()));
    EXPECT_EQ(outcome_of(remove_empty_directory(installed("locales"))), "ok");
    EXPECT_FALSE(machine.files.exists(installed("locales")));
}

}  // namespace
