#include "engine/recovery_journal.h"

#include "recovery_scenario.h"

#include <gtest/gtest.h>

#include <functional>

using installer_helper::Journal;
using installer_helper::JournalStage;
using installer_helper::MAX_JOURNAL_BYTES;
using installer_helper::read_journal_bytes;
using installer_helper::read_recovery_state;
using installer_helper::RegistryScope;
using installer_helper::validate_journal;
using installer_helper::write_journal;

namespace {

constexpr const char* invalid =
    "The migration recovery journal is invalid. Existing files were retained.";
constexpr const char* damaged = "An unknown or damaged migration recovery directory exists.";
constexpr const char* too_large = "Migration recovery journal exceeds the supported size.";

const std::string journal_json = recovery_file("journal.json");
const std::string journal_new = recovery_file("journal.new");

class RecoveryJournalTest : public MigrationTest {};

TEST_F(RecoveryJournalTest, ReadsAJournalFileUpToTheLimit) {
    machine.files.add_file(journal_json, std::string(MAX_JOURNAL_BYTES, ' '));
    EXPECT_EQ(read_journal_bytes(journal_json).value().size(), MAX_JOURNAL_BYTES);
    machine.files.find(journal_json)->data.push_back(' ');
    EXPECT_EQ(outcome_of(read_journal_bytes(journal_json)), too_large);
}

TEST_F(RecoveryJournalTest, ReadFailuresNameTheStep) {
    EXPECT_EQ(
        outcome_of(read_journal_bytes(journal_json)),
        "Cannot open recovery journal: The system cannot find the path specified. (os error 3)");
    machine.files.add_file(journal_json, std::string(100'000, ' '));
    machine.files.hold_open(journal_json, win::GENERIC_READ | win::GENERIC_WRITE | win::DELETE,
                            win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE);
    machine.faults.fail_nth("ReadFile", 2, win::ERROR_NOT_READY);
    EXPECT_EQ(outcome_of(read_journal_bytes(journal_json)),
              "Cannot read recovery journal: The device is not ready. (os error 21)");
}

struct ValidityCase {
    const char* name;
    std::function<void(Journal&)> change;
    const char* outcome;
};

class ValidateJournalTest : public RecoveryJournalTest,
                            public ::testing::WithParamInterface<ValidityCase> {};

TEST_P(ValidateJournalTest, AcceptsOnlyThisInstallationsJournal) {
    Journal journal = recovery_journal();
    GetParam().change(journal);
    EXPECT_EQ(outcome_of(validate_journal(target(), journal)), GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidateJournalTest,
    ::testing::Values(
        ValidityCase{"AsWritten", [](Journal&) {}, "ok"},
        ValidityCase{"DirectoryInOtherLetterCase",
                     [](Journal& j) { j.directory = "c:\\GAMES\\quillmora\\"; }, "ok"},
        ValidityCase{"AllBinariesInAnyOrder",
                     [](Journal& j) {
                         j.binaries = {"uninstall.exe", "Quillmora Launcher.exe",
                                       "QuillmoraClientServices.exe"};
                     },
                     "ok"},
        ValidityCase{"Version2", [](Journal& j) { j.version = 2; }, invalid},
        ValidityCase{"AnotherInstallation",
                     [](Journal& j) { j.directory = "C:\\Games\\Quillmora2"; }, invalid},
        ValidityCase{"MachineScope", [](Journal& j) { j.scope = RegistryScope::Machine; }, invalid},
        ValidityCase{"AnotherUser", [](Journal& j) { j.sid = "S-1-5-21-1111-2222-3333-1002"; },
                     invalid},
        ValidityCase{"TheUserInOtherLetterCase",
                     [](Journal& j) { j.sid = "s-1-5-21-1111-2222-3333-1001"; }, invalid},
        ValidityCase{"AnOwnedFileAsBinary",
                     [](Journal& j) { j.binaries = {"Uninstall Quillmora Launcher.exe"}; },
                     invalid},
        ValidityCase{"ABinaryInOtherLetterCase", [](Journal& j) { j.binaries = {"Uninstall.exe"}; },
                     invalid},
        ValidityCase{"ABinaryTwice",
                     [](Journal& j) { j.binaries = {"uninstall.exe", "uninstall.exe"}; }, invalid},
        // The registration's own check speaks for itself.
        ValidityCase{"RegistrationKeysSwapped",
                     [](Journal& j) { std::swap(j.registration[0], j.registration[1]); },
                     "Invalid registration recovery snapshot."},
        ValidityCase{"RegistrationValueOfAnotherShape",
                     [](Journal& j) {
                         j.registration[1].exists = true;
                         j.registration[1].values = {{"Version", 4, {1, 0}}};
                     },
                     "Invalid registration recovery value."}),
    [](const auto& info) { return std::string(info.param.name); });

struct StateCase {
    const char* name;
    std::function<void(sim::FileSystem&)> arrange;
    const char* found;
};

class ReadRecoveryStateTest : public RecoveryJournalTest,
                              public ::testing::WithParamInterface<StateCase> {};

TEST_P(ReadRecoveryStateTest, FindsTheStateAndChangesNothing) {
    GetParam().arrange(machine.files);
    EXPECT_EQ(found_state(read_recovery_state(target())), GetParam().found);
    EXPECT_EQ(machine.changes_made(), 0);
}

void add_journal(sim::FileSystem& files, const std::string& path, JournalStage stage) {
    files.add_file(path, journal_document(recovery_journal(stage)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadRecoveryStateTest,
    ::testing::Values(
        StateCase{"NoDirectory", [](auto&) {}, "none"},
        StateCase{"EmptyDirectory", [](auto& files) { files.add_directory(recovery_directory); },
                  "none"},
        StateCase{"Journal",
                  [](auto& files) {
                      add_journal(files, journal_json, JournalStage::Prepared);
                      files.add_file(recovery_file("uninstall.exe"));
                  },
                  "stage prepared"},
        StateCase{"JournalBesideAnUnfinishedWrite",
                  [](auto& files) {
                      add_journal(files, journal_json, JournalStage::Committed);
                      files.add_file(journal_new, "{\"vers");
                  },
                  "stage committed"},
        StateCase{"InitialJournalAlone",
                  [](auto& files) { add_journal(files, journal_new, JournalStage::BackingUp); },
                  "stage backing_up"},
        StateCase{"InitialJournalPastBackingUp",
                  [](auto& files) { add_journal(files, journal_new, JournalStage::Prepared); },
                  "An initial migration journal has an invalid recovery stage."},
        // Cut off while the first journal was written: nothing was backed up yet.
        StateCase{"InitialJournalTruncated",
                  [](auto& files) {
                      files.add_file(journal_new,
                                     journal_document(recovery_journal()).substr(0, 40));
                  },
                  "stage backing_up"},
        StateCase{"InitialJournalEmpty", [](auto& files) { files.add_file(journal_new); },
                  "stage backing_up"},
        StateCase{"InitialJournalOfAnotherUser",
                  [](auto& files) {
                      Journal other = recovery_journal();
                      other.sid = "S-1-5-21-1111-2222-3333-1002";
                      files.add_file(journal_new, journal_document(other));
                  },
                  invalid},
        StateCase{"InitialJournalWithABackup",
                  [](auto& files) {
                      add_journal(files, journal_new, JournalStage::BackingUp);
                      files.add_file(recovery_file("uninstall.exe"));
                  },
                  damaged},
        StateCase{"InitialJournalInOtherLetterCase",
                  [](auto& files) {
                      add_journal(files, recovery_file("JOURNAL.NEW"), JournalStage::BackingUp);
                  },
                  damaged},
        StateCase{"InitialJournalADirectory", [](auto& files) { files.add_directory(journal_new); },
                  damaged},
        StateCase{"OnlyABackup",
                  [](auto& files) { files.add_file(recovery_file("uninstall.exe")); }, damaged},
        StateCase{"JournalADirectory", [](auto& files) { files.add_directory(journal_json); },
                  damaged},
        StateCase{"DirectoryAFile", [](auto& files) { files.add_file(recovery_directory); },
                  "Invalid migration recovery directory."},
        StateCase{"JournalWithByteOrderMark",
                  [](auto& files) {
                      files.add_file(journal_json,
                                     "\xEF\xBB\xBF" + journal_document(recovery_journal()));
                  },
                  invalid},
        StateCase{"JournalOfAnotherUser",
                  [](auto& files) {
                      Journal other = recovery_journal();
                      other.sid = "S-1-5-21-1111-2222-3333-1002";
                      files.add_file(journal_json, journal_document(other));
                  },
                  invalid},
        StateCase{"JournalTooLong",
                  [](auto& files) {
                      files.add_file(journal_json, std::string(MAX_JOURNAL_BYTES + 1, ' '));
                  },
                  too_large}),
    [](const auto& info) { return std::string(info.param.name); });

class WriteJournalTest : public RecoveryJournalTest {
protected:
    WriteJournalTest() { machine.files.add_directory(recovery_directory); }
};

TEST_F(WriteJournalTest, WritesTheDocumentFlushedThenRenamedOverTheJournal) {
    add_journal(machine.files, journal_json, JournalStage::BackingUp);
    const Journal prepared = recovery_journal(JournalStage::Prepared, {"uninstall.exe"});
    machine.faults.record({"DeleteFileW", "WriteFile", "FlushFileBuffers", "MoveFileExW"});
    EXPECT_EQ(outcome_of(write_journal(target(), prepared)), "ok");
    EXPECT_EQ(machine.faults.recorded(),
              (std::vector<std::string>{"WriteFile ", "FlushFileBuffers ",
                                        "MoveFileExW " + journal_new}));
    EXPECT_EQ(machine.files.list(recovery_directory), std::vector<std::string>{"journal.json"});
    EXPECT_EQ(machine.files.contents(journal_json), journal_document(prepared));
}

TEST_F(WriteJournalTest, ReplacesAStaleReadOnlyJournalNew) {
    machine.files.add_file(journal_new, "{\"vers").attributes |= win::FILE_ATTRIBUTE_READONLY;
    EXPECT_EQ(outcome_of(write_journal(target(), recovery_journal())), "ok");
    EXPECT_EQ(machine.files.list(recovery_directory), std::vector<std::string>{"journal.json"});
    EXPECT_EQ(machine.files.contents(journal_json), journal_document(recovery_journal()));
}

TEST_F(WriteJournalTest, WritesNothingItWouldNotReadBack) {
    Journal other_version = recovery_journal();
    other_version.version = 2;
    EXPECT_EQ(outcome_of(write_journal(target(), other_version)), invalid);

    // Valid, but too long to be read back: control characters in value
    // names take six bytes each in the document.
    Journal large = recovery_journal();
    large.registration[0].exists = true;
    for (int i = 0; i < 90; ++i)
        large.registration[0].values.push_back(
            {std::string(16'000, '\x01') + std::to_string(i), 3, {}});
    EXPECT_EQ(outcome_of(write_journal(target(), large)), too_large);
    EXPECT_EQ(machine.changes_made(), 0);
}

TEST_F(WriteJournalTest, LeavesAnythingButAFileUnderTheNewName) {
    machine.files.add_directory(journal_new);
    EXPECT_EQ(outcome_of(write_journal(target(), recovery_journal())),
              "Expected an owned regular file; existing data was retained.");
    EXPECT_TRUE(machine.files.find(journal_new)->is_directory());
    EXPECT_FALSE(machine.files.exists(journal_json));
}

struct WriteFailureCase {
    const char* name;
    std::function<void(sim::Machine&)> arrange;
    const char* outcome;
    bool new_left;  // whether "journal.new" stays behind
};

class WriteJournalFailureTest : public WriteJournalTest,
                                public ::testing::WithParamInterface<WriteFailureCase> {};

TEST_P(WriteJournalFailureTest, KeepsThePreviousJournal) {
    add_journal(machine.files, journal_json, JournalStage::BackingUp);
    GetParam().arrange(machine);
    EXPECT_EQ(outcome_of(write_journal(target(), recovery_journal(JournalStage::Prepared))),
              GetParam().outcome);
    EXPECT_EQ(machine.files.exists(journal_new), GetParam().new_left);
    EXPECT_EQ(found_state(read_recovery_state(target())), "stage backing_up");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteJournalFailureTest,
    ::testing::Values(
        WriteFailureCase{"Create",
                         [](sim::Machine& machine) {
                             machine.files.find(recovery_directory)->create_child_error =
                                 win::ERROR_ACCESS_DENIED;
                         },
                         "Cannot create recovery journal: Access is denied. (os error 5)", false},
        WriteFailureCase{"Write",
                         [](sim::Machine& machine) {
                             machine.faults.fail_nth("WriteFile", 1, win::ERROR_DISK_FULL);
                         },
                         "Cannot persist recovery journal: There is not enough space on the "
                         "disk. (os error 112)",
                         true},
        WriteFailureCase{"Flush",
                         [](sim::Machine& machine) {
                             machine.faults.fail_nth("FlushFileBuffers", 1, win::ERROR_NOT_READY);
                         },
                         "Cannot persist recovery journal: The device is not ready. (os error 21)",
                         true},
        // Another program reading the journal keeps it from being replaced.
        WriteFailureCase{"ReplaceWhileRead",
                         [](sim::Machine& machine) {
                             machine.files.hold_open(journal_json, win::GENERIC_READ,
                                                     win::FILE_SHARE_READ | win::FILE_SHARE_WRITE |
                                                         win::FILE_SHARE_DELETE);
                         },
                         "Cannot atomically replace recovery file: Access is denied. (os error 5)",
                         true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
