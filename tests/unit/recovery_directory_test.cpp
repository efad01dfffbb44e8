#include "engine/recovery_directory.h"

#include "recovery_scenario.h"

#include <gtest/gtest.h>

#include <functional>

using installer_helper::create_recovery_directory;
using installer_helper::recovery_file_path;
using installer_helper::remove_recovery_directory;

namespace {

constexpr const char* link_refused = "A junction or symbolic link cannot be modified by setup.";
constexpr const char* unknown_file = "An unknown file exists in the migration recovery directory.";
constexpr const char* invalid_entry = "Invalid recovery directory entry.";

// Every allowed name, in the order in which they are deleted.
const std::vector<std::string> allowed_names{
    "Quillmora Launcher.exe",
    "QuillmoraClientServices.exe",
    "uninstall.exe",
    "restore.new",
    "journal.new",
    "journal.json",
};

class RecoveryDirectoryTest : public MigrationTest {
protected:
    void add_recovery_files(const std::vector<std::string>& names) {
        for (const std::string& name : names) machine.files.add_file(recovery_file(name), name);
    }
};

TEST_F(RecoveryDirectoryTest, OnlyTheSixNamesHavePaths) {
    // No path leads into a recovery directory that is not there.
    EXPECT_EQ(outcome_of(recovery_file_path(target(), "journal.json")),
              "Cannot inspect installer path: The system cannot find the path specified. "
              "(os error 3)");
    machine.files.add_directory(recovery_directory);
    for (const std::string& name : allowed_names)
        EXPECT_EQ(recovery_file_path(target(), name).value(), recovery_file(name));
    using namespace std::string_view_literals;
    const std::vector<std::string_view> refused{"JOURNAL.JSON",
                                                "Journal.json",
                                                "journal.json ",
                                                "journal",
                                                "",
                                                "notes.txt",
                                                "Uninstall Quillmora Launcher.exe",
                                                "../journal.json",
                                                "sub/journal.json",
                                                "journal.json\\",
                                                "journal.json\0"sv};
    for (const std::string_view name : refused)
        EXPECT_EQ(outcome_of(recovery_file_path(target(), name)), "Invalid recovery file name.")
            << name;
}

TEST_F(RecoveryDirectoryTest, PathsRunThroughNoJunction) {
    const auto opened = target();
    machine.files.add_junction(recovery_directory, "D:\\Elsewhere");
    EXPECT_EQ(outcome_of(recovery_file_path(opened, "journal.json")), link_refused);
}

TEST_F(RecoveryDirectoryTest, CreatesOneLevelWhereNothingIsYet) {
    EXPECT_EQ(outcome_of(create_recovery_directory(recovery_directory)), "ok");
    EXPECT_TRUE(machine.files.find(recovery_directory)->is_directory());
    EXPECT_FALSE(machine.files.find(recovery_directory)->security_descriptor.has_value());
    EXPECT_EQ(outcome_of(create_recovery_directory(recovery_directory)),
              "Cannot create recovery directory: Cannot create a file when that file already "
              "exists. (os error 183)");
    EXPECT_EQ(outcome_of(create_recovery_directory(installed("missing\\.quillmora-migration"))),
              "Cannot create recovery directory: The system cannot find the path specified. (os "
              "error 3)");
}

TEST_F(RecoveryDirectoryTest, RemovesEveryAllowedFileJournalLastThenTheDirectory) {
    add_recovery_files(allowed_names);
    machine.files.find(recovery_file("uninstall.exe"))->attributes |= win::FILE_ATTRIBUTE_READONLY;
    machine.faults.record({"DeleteFileW", "RemoveDirectoryW", "SetFileInformationByHandle"});
    EXPECT_EQ(outcome_of(remove_recovery_directory(target())), "ok");
    // Through handles: the read-only backup has its attribute cleared first.
    std::vector<std::string> expected;
    for (const std::string& name : allowed_names) {
        expected.push_back("SetFileInformationByHandle " + recovery_file(name));
        if (name == "uninstall.exe") expected.push_back(expected.back());
    }
    expected.push_back("SetFileInformationByHandle " + recovery_directory);
    EXPECT_EQ(machine.faults.recorded(), expected);
    EXPECT_FALSE(machine.files.exists(recovery_directory));
}

// Found by the fault campaign: a deletion that silently did not happen
// (here the open for it claims the file is gone) must not be followed by
// the journal's, or the next run would find backups with no journal.
TEST_F(RecoveryDirectoryTest, TheJournalGoesOnlyOnceItIsAlone) {
    add_recovery_files(allowed_names);
    // Its fourth open, after two checks and the path's own, is the one for
    // its deletion.
    machine.faults.fail_nth("CreateFileW", 4, win::ERROR_FILE_NOT_FOUND,
                            u16(recovery_file("uninstall.exe")));
    EXPECT_EQ(outcome_of(remove_recovery_directory(target())), invalid_entry);
    EXPECT_EQ(machine.files.list(recovery_directory),
              (std::vector<std::string>{"journal.json", "uninstall.exe"}));
    EXPECT_EQ(outcome_of(remove_recovery_directory(target())), "ok");
    EXPECT_FALSE(machine.files.exists(recovery_directory));
}

TEST_F(RecoveryDirectoryTest, AMissingOrPartlyEmptiedDirectoryIsTakenDownToo) {
    EXPECT_EQ(outcome_of(remove_recovery_directory(target())), "ok");
    add_recovery_files({"journal.json"});
    EXPECT_EQ(outcome_of(remove_recovery_directory(target())), "ok");
    EXPECT_FALSE(machine.files.exists(recovery_directory));
    machine.files.add_directory(recovery_directory);
    EXPECT_EQ(outcome_of(remove_recovery_directory(target())), "ok");
    EXPECT_FALSE(machine.files.exists(recovery_directory));
}

TEST_F(RecoveryDirectoryTest, AFailedDeletionLeavesTheJournalInPlace) {
    add_recovery_files(allowed_names);
    machine.files.hold_open(recovery_file("journal.new"), win::GENERIC_READ, win::FILE_SHARE_READ);
    EXPECT_EQ(outcome_of(remove_recovery_directory(target())),
              "Cannot remove owned installer file: The process cannot access the file because it "
              "is being used by another process. (os error 32)");
    EXPECT_EQ(machine.files.list(recovery_directory),
              (std::vector<std::string>{"journal.json", "journal.new"}));
}

struct RefusalCase {
    const char* name;
    std::function<void(sim::FileSystem&)> arrange;
    const char* outcome;
};

class RemoveRecoveryDirectoryRefusalTest : public RecoveryDirectoryTest,
                                           public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RemoveRecoveryDirectoryRefusalTest, ChecksEveryEntryBeforeDeletingAny) {
    // Five allowed files; each case adds one more entry.
    add_recovery_files({"Quillmora Launcher.exe", "QuillmoraClientServices.exe", "uninstall.exe",
                        "journal.new", "journal.json"});
    GetParam().arrange(machine.files);
    const auto before = machine.files.list(recovery_directory);
    EXPECT_EQ(outcome_of(remove_recovery_directory(target())), GetParam().outcome);
    EXPECT_EQ(machine.files.list(recovery_directory), before);
    EXPECT_EQ(machine.faults.calls("DeleteFileW"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveRecoveryDirectoryRefusalTest,
    ::testing::Values(
        RefusalCase{"AnotherFile", [](auto& files) { files.add_file(recovery_file("notes.txt")); },
                    unknown_file},
        RefusalCase{
            "AnOwnedFileName",
            [](auto& files) { files.add_file(recovery_file("Uninstall Quillmora Launcher.exe")); },
            unknown_file},
        RefusalCase{"AnAllowedNameInOtherLetterCase",
                    [](auto& files) { files.add_file(recovery_file("RESTORE.NEW")); },
                    unknown_file},
        RefusalCase{"ANameThatIsNotUnicode",
                    [](auto& files) { files.add_file(recovery_file("\xED\xA0\x80.exe")); },
                    invalid_entry},
        RefusalCase{"ADirectoryUnderAnAllowedName",
                    [](auto& files) { files.add_file(recovery_file("restore.new\\inner")); },
                    invalid_entry},
        RefusalCase{"ALinkUnderAnAllowedName",
                    [](auto& files) {
                        files.add_file("D:\\Elsewhere\\keep", "keep");
                        files.add_symbolic_link(recovery_file("restore.new"), "D:\\Elsewhere\\keep",
                                                false);
                    },
                    link_refused}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecoveryDirectoryTest, AFileInPlaceOfTheDirectoryStays) {
    machine.files.add_file(recovery_directory, "x");
    EXPECT_EQ(outcome_of(remove_recovery_directory(target())),
              "Cannot inspect installer directory: The directory name is invalid. (os error 267)");
    EXPECT_EQ(machine.files.contents(recovery_directory), "x");
}

}  // namespace
