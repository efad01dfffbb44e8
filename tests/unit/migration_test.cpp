// The migration actions on the simulated machine: what begin records, the
// transaction's state machine as each action finds each stage, and the
// hostile states that must stop an action with nothing outside the owned
// set changed.
#include "engine/begin.h"
#include "engine/commit.h"
#include "engine/journal.h"
#include "engine/recovery_journal.h"
#include "engine/rollback.h"
#include "handlers/handlers.h"
#include "legacy_installation.h"
#include "simulated_test.h"

#include <gtest/gtest.h>

using namespace installer_helper;

namespace {

const std::string directory(legacy_directory);
const std::string recovery = directory + "\\.quillmora-migration";
constexpr const char* not_prepared = "The migration transaction is not prepared for commit.";
constexpr const char* already_committed =
    "The migration was already committed and cannot be rolled back.";
constexpr const char* link_refused = "A junction or symbolic link cannot be modified by setup.";
constexpr const char* journal_invalid =
    "The migration recovery journal is invalid. Existing files were retained.";

class MigrationTest : public SimulatedTest {
protected:
    void SetUp() override { install_legacy(machine); }

    std::string begin() { return outcome(begin_migration(directory, legacy_context())); }
    std::string rollback() { return outcome(rollback_migration(directory, legacy_context())); }
    // "done", "cleanup: <message>" for a commit whose cleanup stopped, or the error.
    std::string commit() {
        const auto committed = commit_migration(directory, legacy_context());
        if (!committed) return committed.error().message();
        return *committed ? "cleanup: " + **committed : "done";
    }
    static std::string outcome(const Result<>& result) {
        return result ? "done" : result.error().message();
    }

    std::optional<Journal> journal() {
        const auto target = open_migration_target(directory, legacy_context());
        const auto state = read_recovery_state(*target);
        EXPECT_TRUE(state) << state.error().message();
        return state ? *state : std::nullopt;
    }
    // Leaves a transaction at `stage` on disk, as an interrupted run would.
    void transaction_at(JournalStage stage) {
        ASSERT_EQ(begin(), "done");
        Journal moved = *journal();
        moved.stage = stage;
        const auto target = open_migration_target(directory, legacy_context());
        ASSERT_TRUE(write_journal(*target, moved));
    }
    MachineState without_recovery(MachineState state) {
        std::erase_if(state, [](const auto& entry) { return entry.first.starts_with(recovery); });
        return state;
    }
};

TEST_F(MigrationTest, BeginRecordsAndBacksUpWithoutChangingTheInstallation) {
    const MachineState before = state_of(machine);
    EXPECT_EQ(begin(), "done");
    EXPECT_EQ(without_recovery(state_of(machine)), before);
    const Journal recorded = *journal();
    EXPECT_EQ(recorded.stage, JournalStage::Prepared);
    EXPECT_EQ(recorded.directory, directory);
    EXPECT_EQ(recorded.binaries, (std::vector<std::string>{"Quillmora Launcher.exe",
                                                           "QuillmoraClientServices.exe",
                                                           "uninstall.exe"}));
    ASSERT_EQ(recorded.registration.size(), 2u);
    EXPECT_EQ(recorded.registration[0].key, launcher_registration);
    EXPECT_EQ(recorded.registration[0].values.size(), 6u);
    EXPECT_EQ(recorded.registration[1].key, uninstall_registration);
    for (const std::string& binary : recorded.binaries)
        EXPECT_EQ(machine.files.contents(recovery + "\\" + binary),
                  machine.files.contents(directory + "\\" + binary));
}

TEST_F(MigrationTest, BeginRecordsOnlyThePresentBinaries) {
    for (const char* gone : {"Quillmora Launcher.exe", "uninstall.exe"})
        machine.files.remove_child(*machine.files.find(directory),
                                   *machine.files.find(directory + "\\" + gone));
    EXPECT_EQ(begin(), "done");
    EXPECT_EQ(journal()->binaries, std::vector<std::string>{"QuillmoraClientServices.exe"});
    EXPECT_EQ(machine.files.list(recovery),
              (std::vector<std::string>{"journal.json", "QuillmoraClientServices.exe"}));
}

TEST_F(MigrationTest, BeginRefusesABinaryThatIsADirectoryAndReusesTheEmptyRecoveryDirectory) {
    machine.files.remove_child(*machine.files.find(directory),
                               *machine.files.find(directory + "\\uninstall.exe"));
    machine.files.add_directory(directory + "\\uninstall.exe");
    EXPECT_EQ(begin(), "An owned launcher binary is not a regular file.");
    EXPECT_TRUE(machine.files.list(recovery).empty());
    EXPECT_EQ(begin(), "An owned launcher binary is not a regular file.");
}

// What each action does with each stage it finds.
TEST_F(MigrationTest, StateMachine) {
    const MachineState original = state_of(machine);
    struct Case {
        std::optional<JournalStage> found;
        const char* action;
        const char* outcome;
        const char* afterwards;  // "original", "committed", "prepared" or "unchanged"
    } cases[] = {
        {std::nullopt, "begin", "done", "prepared"},
        {std::nullopt, "commit", "Missing migration recovery journal.", "unchanged"},
        {std::nullopt, "rollback", "done", "original"},
        {JournalStage::BackingUp, "begin", "done", "prepared"},
        {JournalStage::BackingUp, "commit", not_prepared, "unchanged"},
        {JournalStage::BackingUp, "rollback", "done", "original"},
        {JournalStage::Prepared, "begin", "done", "prepared"},
        {JournalStage::Prepared, "commit", "done", "committed"},
        {JournalStage::Prepared, "rollback", "done", "original"},
        {JournalStage::Committed, "begin", "done", "committed and prepared"},
        {JournalStage::Committed, "commit", "done", "committed"},
        {JournalStage::Committed, "rollback", already_committed, "committed"},
        {JournalStage::RolledBack, "begin", "done", "prepared"},
        {JournalStage::RolledBack, "commit", not_prepared, "unchanged"},
        {JournalStage::RolledBack, "rollback", "done", "original"},
    };
    for (const Case& c : cases) {
        sim::Machine fresh;
        sim::ScopedMachine installed(fresh);
        install_legacy(fresh);
        if (c.found) transaction_at(*c.found);
        const MachineState before = state_of(fresh);
        const std::string action = c.action;
        const std::string outcome = action == "begin" ? begin() : action == "commit" ? commit()
                                                                                     : rollback();
        SCOPED_TRACE(action + " finding " +
                     (c.found ? std::string(JOURNAL_STAGE_NAMES[static_cast<int>(*c.found)])
                              : std::string("no transaction")));
        EXPECT_EQ(outcome, c.outcome);
        const MachineState after = state_of(fresh);
        const std::string afterwards = c.afterwards;
        if (afterwards == "unchanged") {
            EXPECT_EQ(after, before);
        } else if (afterwards == "original") {
            EXPECT_EQ(after, original);
        } else if (afterwards == "prepared") {
            EXPECT_EQ(journal()->stage, JournalStage::Prepared);
            EXPECT_EQ(without_recovery(after), without_recovery(original));
        } else if (afterwards == "committed and prepared") {
            EXPECT_EQ(journal()->stage, JournalStage::Prepared);
            EXPECT_FALSE(fresh.files.exists(directory + "\\resources\\app.asar"));
        } else {
            EXPECT_FALSE(fresh.files.exists(recovery));
            EXPECT_FALSE(fresh.files.exists(directory + "\\resources\\app.asar"));
            EXPECT_FALSE(fresh.files.exists(directory + "\\locales"));
            EXPECT_FALSE(fresh.registry.exists(HKU, player_key(legacy_registration)));
            EXPECT_EQ(fresh.files.contents(directory + "\\uninstall.exe"), "old uninstall.exe");
            EXPECT_EQ(fresh.files.contents(directory + "\\saves\\slot1.sav"), "the player's");
        }
        EXPECT_EQ(fresh.open_handle_count(), 0u);
    }
}

// A run cut off while it wrote the very first journal leaves a lone
// "journal.new" that does not decode; nothing was backed up or changed yet.
TEST_F(MigrationTest, ATornFirstJournalIsATransactionThatHadOnlyBegun) {
    const MachineState original = state_of(machine);
    for (const std::string& torn : {std::string(), std::string("{\"version\":3,\"dire")}) {
        for (const auto& [action, outcome] : std::vector<std::pair<std::string, std::string>>{
                 {"commit", not_prepared}, {"rollback", "done"}, {"begin", "done"}}) {
            sim::Machine fresh;
            sim::ScopedMachine installed(fresh);
            install_legacy(fresh);
            fresh.files.add_file(recovery + "\\journal.new", torn);
            const MachineState before = state_of(fresh);
            SCOPED_TRACE(action + " finding " + std::to_string(torn.size()) + " bytes");
            EXPECT_EQ(action == "begin" ? begin() : action == "commit" ? commit() : rollback(),
                      outcome);
            if (action == "commit") {
                EXPECT_EQ(state_of(fresh), before);
            } else if (action == "rollback") {
                EXPECT_EQ(state_of(fresh), original);
            } else {
                EXPECT_EQ(journal()->stage, JournalStage::Prepared);
                EXPECT_EQ(without_recovery(state_of(fresh)), without_recovery(original));
            }
        }
    }
}

TEST_F(MigrationTest, ACommitWhoseFileIsHeldOpenFinishesOnALaterRun) {
    ASSERT_EQ(begin(), "done");
    const int held = machine.files.hold_open(directory + "\\ffmpeg.dll", win::GENERIC_READ,
                                             win::FILE_SHARE_READ);
    EXPECT_EQ(commit(), "cleanup: Cannot remove owned installer file: The process cannot access the "
                        "file because it is being used by another process. (os error 32)");
    EXPECT_EQ(journal()->stage, JournalStage::Committed);
    EXPECT_TRUE(machine.files.exists(recovery + "\\uninstall.exe"));
    machine.files.release(held);
    EXPECT_EQ(commit(), "done");
    EXPECT_FALSE(machine.files.exists(recovery));
    EXPECT_EQ(commit(), "Missing migration recovery journal.");
}

TEST_F(MigrationTest, RollbackRestoresWhatSetupChanged) {
    const MachineState original = state_of(machine);
    ASSERT_EQ(begin(), "done");
    machine.files.find(directory + "\\Quillmora Launcher.exe")->data = {'n', 'e', 'w'};
    machine.files.remove_child(*machine.files.find(directory),
                               *machine.files.find(directory + "\\uninstall.exe"));
    machine.registry.set_value(HKU, player_key(launcher_registration), "Added", REG_DWORD,
                               dword_bytes(1));
    machine.registry.remove_key(HKU, player_key(uninstall_registration));
    EXPECT_EQ(rollback(), "done");
    EXPECT_EQ(state_of(machine), original);
}

// Windows refuses to replace a read-only file; neither setup's read-only
// binary nor a read-only journal may leave the transaction stuck.
TEST_F(MigrationTest, ReadOnlyBinariesAndJournalDoNotStopTheTransaction) {
    const MachineState original = state_of(machine);
    const auto make_read_only = [&](const std::string& path) {
        machine.files.find(path)->attributes |= win::FILE_ATTRIBUTE_READONLY;
    };
    make_read_only(directory + "\\uninstall.exe");
    ASSERT_EQ(begin(), "done");
    make_read_only(recovery + "\\journal.json");
    EXPECT_EQ(begin(), "done");  // settles the first transaction, begins anew
    machine.files.find(directory + "\\Quillmora Launcher.exe")->data = {'n', 'e', 'w'};
    make_read_only(directory + "\\Quillmora Launcher.exe");
    make_read_only(recovery + "\\journal.json");
    EXPECT_EQ(rollback(), "done");
    EXPECT_EQ(state_of(machine).size(), original.size());
    EXPECT_EQ(machine.files.contents(directory + "\\Quillmora Launcher.exe"),
              "old Quillmora Launcher.exe");
    EXPECT_FALSE(machine.files.exists(recovery));
}

TEST_F(MigrationTest, RollbackWithAMissingBackupChangesNothing) {
    ASSERT_EQ(begin(), "done");
    machine.files.remove_child(*machine.files.find(recovery),
                               *machine.files.find(recovery + "\\uninstall.exe"));
    const MachineState before = state_of(machine);
    EXPECT_EQ(rollback(), "Missing recovery file: uninstall.exe");
    EXPECT_EQ(state_of(machine), before);
}

TEST_F(MigrationTest, HostileStatesStopTheActionWithNothingChanged) {
    struct Case {
        const char* name;
        std::function<void(sim::Machine&)> arrange;
        const char* action;
        const char* outcome;
    } cases[] = {
        {"installation behind a junction",
         [](sim::Machine& m) {
             m.files.add_directory("D:\\Elsewhere");
             m.files.add_junction("C:\\Linked", "C:\\Games");
         },
         "begin-linked", link_refused},
        {"owned subdirectory turned into a junction",
         [](sim::Machine& m) {
             m.files.add_file("D:\\Target\\keep.dat", "not ours");
             m.files.remove_child(*m.files.find(directory),
                                  *m.files.find(directory + "\\locales"));
             m.files.add_junction(directory + "\\locales", "D:\\Target");
         },
         "commit", "cleanup: A junction or symbolic link cannot be modified by setup."},
        {"owned file turned into a directory",
         [](sim::Machine& m) {
             m.files.remove_child(*m.files.find(directory), *m.files.find(directory + "\\ffmpeg.dll"));
             m.files.add_file(directory + "\\ffmpeg.dll\\keep.dat", "not ours");
         },
         "commit", "cleanup: Expected an owned regular file; existing data was retained."},
        {"registration with a subkey",
         [](sim::Machine& m) {
             m.registry.add_key(HKU, player_key(launcher_registration) + "\\Sub");
         },
         "begin", "Unexpected subkeys in launcher registration."},
        {"registration through a registry link",
         [](sim::Machine& m) {
             m.registry.remove_key(HKU, player_key(uninstall_registration));
             m.registry.add_link(HKU, player_key(uninstall_registration),
                                 "\\Registry\\Machine\\Software\\Target");
         },
         "begin", "A registry symbolic link is not allowed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine fresh;
        sim::ScopedMachine installed(fresh);
        install_legacy(fresh);
        const std::string action = c.action;
        if (action == "commit") {
            ASSERT_EQ(begin(), "done");
        }
        c.arrange(fresh);
        const std::string before_target = fresh.files.exists("D:\\Target\\keep.dat")
                                              ? fresh.files.contents("D:\\Target\\keep.dat")
                                              : "";
        const std::string outcome =
            action == "begin"          ? begin()
            : action == "begin-linked" ? this->outcome(begin_migration("C:\\Linked\\Quillmora", [] {
                  auto context = legacy_context();
                  context.directory = "C:\\Linked\\Quillmora";
                  return context;
              }()))
                                       : commit();
        EXPECT_EQ(outcome, c.outcome);
        if (!before_target.empty()) {
            EXPECT_EQ(fresh.files.contents("D:\\Target\\keep.dat"), before_target);
        }
        if (fresh.files.exists(directory + "\\ffmpeg.dll\\keep.dat")) {
            EXPECT_EQ(fresh.files.contents(directory + "\\ffmpeg.dll\\keep.dat"), "not ours");
        }
        EXPECT_EQ(fresh.files.contents(directory + "\\saves\\slot1.sav"), "the player's");
    }
}

TEST_F(MigrationTest, AJournalOfAnotherInstallationOrUserIsRefused) {
    ASSERT_EQ(begin(), "done");
    const std::string bytes = machine.files.contents(recovery + "\\journal.json");
    Journal other = *decode_journal(bytes);
    for (const auto& change : std::vector<std::function<void(Journal&)>>{
             [](Journal& j) { j.directory = "C:\\Games\\Other"; },
             [](Journal& j) { j.scope = RegistryScope::Machine; },
             [](Journal& j) { j.sid = "S-1-5-21-1-2-3-1002"; },
             [](Journal& j) { j.version = 2; }}) {
        Journal changed = other;
        change(changed);
        const std::string encoded = *encode_journal(changed);
        sim::Node* file = machine.files.find(recovery + "\\journal.json");
        file->data = file->durable = std::vector<std::uint8_t>(encoded.begin(), encoded.end());
        const MachineState before = state_of(machine);
        EXPECT_EQ(commit(), journal_invalid);
        EXPECT_EQ(rollback(), journal_invalid);
        EXPECT_EQ(begin(), journal_invalid);
        EXPECT_EQ(state_of(machine), before);
    }
}

TEST_F(MigrationTest, AnUnelevatedRollbackThatNeedsElevationChangesNothing) {
    auto context = legacy_context();
    context.scope = RegistryScope::Machine;
    machine.files.add_directory("C:\\Setup");
    ASSERT_TRUE(write_installer_context("C:\\Setup\\context.ini", context));
    machine.registry.set_value(HKLM, launcher_registration, "", REG_SZ, string_bytes("x"));
    ASSERT_TRUE(begin_migration(directory, context));
    const MachineState before = state_of(machine);
    InstallerArguments arguments;
    arguments.action = Action::Rollback;
    arguments.output = "C:\\Setup\\context.ini";
    arguments.directory = directory;
    const auto result = run_rollback(arguments);
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(*result, ActionOutcome{ElevationRequired{}});
    EXPECT_EQ(state_of(machine), before);
    // Elevated, the same rollback restores.
    machine.accounts.elevated = true;
    EXPECT_EQ(run_rollback(arguments).value_or(ActionOutcome{ElevationRequired{}}),
              ActionOutcome{Done{}});
}

}  // namespace
