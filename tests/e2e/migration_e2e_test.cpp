// The migration actions under Wine: begin, commit and rollback on an older
// installation laid out on disk and registered in the Wine user's hive, each
// checked by the files and registry values they leave, and every state an
// interrupted transaction can leave followed by each action.
#include "context_file.h"
#include "host_files.h"
#include "legacy_installation.h"
#include "legacy_installation_test.h"
#include "wine_differences.h"
#include "wine_test.h"

#include <filesystem>

namespace e2e {
namespace {

namespace fs = std::filesystem;

const RunResult done{0, "", ""};
constexpr RunOptions under_the_shell{.unelevated = false, .desktop_shell = true};

// A commit whose cleanup stopped: status 2 with the cleanup's message.
RunResult committed_with(std::string_view message) { return {2, "", std::string(message) + "\n"}; }

constexpr std::string_view missing_journal = "Missing migration recovery journal.";
constexpr std::string_view not_prepared = "The migration transaction is not prepared for commit.";

class MigrationEndToEnd : public LegacyInstallationTest {
protected:
    std::string recovery_file(std::string_view name) const {
        return installed(recovery_directory) + "\\" + std::string(name);
    }

    RunResult capture_context() { return run_helper(action_arguments("context"), under_the_shell); }
    RunResult run_action(std::string_view action, const RunOptions& options = {}) {
        return run_helper(action_arguments(action), options);
    }

    // The journal the helper writes for this installation.
    JournalDocument journal(std::string_view stage, const FileTree& files,
                            std::vector<RegistryKey> registration) const {
        JournalDocument document;
        document.directory = installation();
        document.stage = stage;
        for (const std::string_view binary : launcher_binaries)
            if (files.contains(std::string(binary))) document.binaries.emplace_back(binary);
        document.registration = std::move(registration);
        return document;
    }
    std::string installed_journal(std::string_view stage) const {
        return journal(stage, legacy_files(), launcher_registration(installation())).json();
    }

    // What a finished commit leaves of an installation.
    static FileTree cleaned(FileTree files) {
        std::erase_if(files, [](const auto& entry) {
            return entry.first.starts_with(std::string(recovery_directory) + "/");
        });
        return without_electron_files(std::move(files));
    }
    // The launcher's keys as they are, the older installation's gone.
    static std::vector<RegistryKey> cleaned(std::vector<RegistryKey> registration) {
        for (RegistryKey& key : registration)
            if (key.path == legacy_key || key.path == legacy_uninstall_key) key = absent({key})[0];
        return registration;
    }
};

TEST_F(MigrationEndToEnd, CommitRemovesTheElectronInstallationAndKeepsTheLauncher) {
    install();
    ASSERT_EQ(capture_context(), done);
    ASSERT_EQ(run_action("begin"), done);
    // The journal names all three binaries and the registration as captured.
    EXPECT_EQ(files_now(), with_recovery(legacy_files(), installed_journal("prepared")));

    EXPECT_EQ(run_action("commit"), done);
    EXPECT_EQ(files_now(), without_electron_files(legacy_files()));
    EXPECT_EQ(registry_now(), registry_dump(cleaned(installed_registration())));
    EXPECT_EQ(run_action("commit"), helper_error(missing_journal));
}

TEST_F(MigrationEndToEnd, RollbackPutsBackWhatSetupChanged) {
    install();
    fs::remove(wine::unix_path(installed("QuillmoraClientServices.exe")));
    FileTree before = files_now();
    ASSERT_EQ(capture_context(), done);
    ASSERT_EQ(run_action("begin"), done);
    EXPECT_EQ(files_now(), with_recovery(before, journal("prepared", before,
                                                         launcher_registration(installation()))
                                                     .json()));

    // Setup replaces one binary, deletes one, adds one that was not there,
    // and changes, adds and deletes registration values.
    write_file(installed("Quillmora Launcher.exe"), "MZ Quillmora Launcher 2.0.0\n");
    fs::remove(wine::unix_path(installed("uninstall.exe")));
    write_file(installed("QuillmoraClientServices.exe"), "MZ Quillmora Client Services 2.0.0\n");
    std::vector<RegistryKey> changed = launcher_registration(installation());
    changed[0].values.erase(changed[0].values.begin() + 1);  // "Channel"
    changed[0].values.back().data = string_data("2.0.0");    // "Version"
    changed[1].values.push_back({"URLInfoAbout", 1, string_data("https://quillmora.example")});
    seed(changed);

    EXPECT_EQ(run_action("rollback"), done);
    EXPECT_EQ(files_now(), before);
    EXPECT_EQ(registry_now(), registry_dump(installed_registration()));
}

TEST_F(MigrationEndToEnd, ASecondBeginSettlesTheFirst) {
    install();
    ASSERT_EQ(run_action("begin"), done);
    write_file(installed("uninstall.exe"), "MZ uninstall 2.0.0\n");
    EXPECT_EQ(run_action("begin"), done);
    EXPECT_EQ(files_now(), with_recovery(legacy_files(), installed_journal("prepared")));
    EXPECT_EQ(registry_now(), registry_dump(installed_registration()));
}

TEST_F(MigrationEndToEnd, AHeldElectronFileEndsTheCommitWithStatusTwoUntilReleased) {
    install();
    ASSERT_EQ(run_action("begin"), done);
    hold("ffmpeg.dll");
    EXPECT_EQ(run_action("commit"),
              committed_with("Cannot remove owned installer file: " + os_error_text(32)));
    // Committed: the files before it are gone, the held one and those after stay.
    EXPECT_EQ(read_file(recovery_file("journal.json")), installed_journal("committed"));
    EXPECT_FALSE(exists(installed("dxil.dll")));
    EXPECT_TRUE(exists(installed("ffmpeg.dll")));
    EXPECT_TRUE(exists(installed("icudtl.dat")));

    release();
    EXPECT_EQ(run_action("commit"), done);
    EXPECT_EQ(files_now(), without_electron_files(legacy_files()));
    EXPECT_EQ(registry_now(), registry_dump(cleaned(installed_registration())));
}

TEST_F(MigrationEndToEnd, AnUnknownRecoveryFileStopsTheCommitAfterTheOlderInstallation) {
    install();
    ASSERT_EQ(run_action("begin"), done);
    write_file(recovery_file("notes.txt"), "not the helper's");
    EXPECT_EQ(run_action("commit"),
              committed_with("An unknown file exists in the migration recovery directory."));
    FileTree expected =
        with_recovery(without_electron_files(legacy_files()), installed_journal("committed"));
    expected[std::string(recovery_directory) + "/notes.txt"] = "not the helper's";
    EXPECT_EQ(files_now(), expected);
    EXPECT_EQ(registry_now(), registry_dump(cleaned(installed_registration())));
}

TEST_F(MigrationEndToEnd, AnUnelevatedRollbackThatNeedsAdministratorChangesNothing) {
    write_context("machine");
    JournalDocument prepared = journal("prepared", legacy_files(),
                                       absent(launcher_registration(installation())));
    prepared.scope = "machine";
    FileTree files = with_recovery(legacy_files(), prepared.json());
    files["Quillmora Launcher.exe"] = "MZ Quillmora Launcher 2.0.0\n";
    lay_out(files);
    EXPECT_EQ(run_action("rollback", {.unelevated = true}),
              (RunResult{740, "",
                         "Administrator permission is required to restore this installation.\n"}));
    EXPECT_EQ(files_now(), files);
}

// ---- Every state an interrupted transaction leaves, and each action on it ----

enum class Found {
    EmptyRecoveryDirectory,
    LoneInitialJournal,
    LoneTruncatedJournal,
    BackingUpWithPartialCopy,
    Prepared,
    CommittedPartlyCleaned,
    RolledBackPartlyRemoved,
};

// What the installation looks like after the action.
enum class After {
    Unchanged,        // as laid out
    Settled,          // the earlier transaction finished or undone, no recovery directory
    SettledAndBegun,  // settled, then a new prepared transaction
    Cleaned,          // committed: the Electron files and legacy keys gone, nothing restored
};

struct StateCase {
    Found found;
    std::string_view action;
    RunResult result;
    After after;
};

std::string_view found_name(Found found) {
    switch (found) {
        case Found::EmptyRecoveryDirectory: return "EmptyRecoveryDirectory";
        case Found::LoneInitialJournal: return "LoneInitialJournal";
        case Found::LoneTruncatedJournal: return "LoneTruncatedJournal";
        case Found::BackingUpWithPartialCopy: return "BackingUpWithPartialCopy";
        case Found::Prepared: return "Prepared";
        case Found::CommittedPartlyCleaned: return "CommittedPartlyCleaned";
        case Found::RolledBackPartlyRemoved: return "RolledBackPartlyRemoved";
    }
    return "";
}

void PrintTo(const StateCase& state, std::ostream* out) {
    *out << found_name(state.found) << " then " << state.action;
}

const std::vector<StateCase> STATE_CASES = {
    {Found::EmptyRecoveryDirectory, "begin", done, After::SettledAndBegun},
    {Found::EmptyRecoveryDirectory, "commit", helper_error(missing_journal), After::Unchanged},
    {Found::EmptyRecoveryDirectory, "rollback", done, After::Unchanged},
    {Found::LoneInitialJournal, "begin", done, After::SettledAndBegun},
    {Found::LoneInitialJournal, "commit", helper_error(not_prepared), After::Unchanged},
    {Found::LoneInitialJournal, "rollback", done, After::Settled},
    // Cut off while the first journal was written: a transaction that had only begun.
    {Found::LoneTruncatedJournal, "begin", done, After::SettledAndBegun},
    {Found::LoneTruncatedJournal, "commit", helper_error(not_prepared), After::Unchanged},
    {Found::LoneTruncatedJournal, "rollback", done, After::Settled},
    {Found::BackingUpWithPartialCopy, "begin", done, After::SettledAndBegun},
    {Found::BackingUpWithPartialCopy, "commit", helper_error(not_prepared), After::Unchanged},
    {Found::BackingUpWithPartialCopy, "rollback", done, After::Settled},
    {Found::Prepared, "begin", done, After::SettledAndBegun},
    {Found::Prepared, "commit", done, After::Cleaned},
    {Found::Prepared, "rollback", done, After::Settled},
    {Found::CommittedPartlyCleaned, "begin", done, After::SettledAndBegun},
    {Found::CommittedPartlyCleaned, "commit", done, After::Cleaned},
    {Found::CommittedPartlyCleaned, "rollback",
     helper_error("The migration was already committed and cannot be rolled back."),
     After::Cleaned},
    {Found::RolledBackPartlyRemoved, "begin", done, After::SettledAndBegun},
    {Found::RolledBackPartlyRemoved, "commit", helper_error(not_prepared), After::Unchanged},
    {Found::RolledBackPartlyRemoved, "rollback", done, After::Settled},
};

class MigrationStateEndToEnd : public MigrationEndToEnd,
                               public ::testing::WithParamInterface<StateCase> {
protected:
    // The installation and registration as a transaction in this state left
    // them, and as settling it must leave them.
    struct Layout {
        FileTree files;  // the installation with its recovery directory
        std::vector<RegistryKey> registration;
        FileTree settled_files;
        std::vector<RegistryKey> settled_registration;
    };

    Layout layout(Found found) const {
        const std::string recovery = std::string(recovery_directory) + "/";
        const FileTree legacy = legacy_files();
        const auto launcher = launcher_registration(installation());
        const auto legacy_keys = legacy_registration(installation());
        const std::string backing_up = installed_journal("backing_up");
        Layout state{legacy, launcher + legacy_keys, legacy, launcher + legacy_keys};
        state.files[recovery] = "";
        // What setup did after begin: a new launcher, a new version value.
        const auto update = [&] {
            state.files["Quillmora Launcher.exe"] = "MZ Quillmora Launcher 2.0.0\n";
            state.registration[0].values.back().data = string_data("2.0.0");
        };
        switch (found) {
            case Found::EmptyRecoveryDirectory: break;
            case Found::LoneInitialJournal: state.files[recovery + "journal.new"] = backing_up; break;
            case Found::LoneTruncatedJournal:
                state.files[recovery + "journal.new"] = backing_up.substr(0, backing_up.size() / 2);
                break;
            case Found::BackingUpWithPartialCopy:
                state.files[recovery + "journal.json"] = backing_up;
                state.files[recovery + "Quillmora Launcher.exe"] = legacy.at("Quillmora Launcher.exe");
                state.files[recovery + "QuillmoraClientServices.exe"] = "MZ Quill";
                break;
            case Found::Prepared:
                state.files = with_recovery(legacy, installed_journal("prepared"));
                update();
                break;
            case Found::CommittedPartlyCleaned:
                state.files = with_recovery(legacy, installed_journal("committed"));
                update();
                for (const char* removed : {"chrome_100_percent.pak", "chrome_200_percent.pak",
                                            "d3dcompiler_47.dll", "locales/de.pak"})
                    state.files.erase(removed);
                state.settled_files = cleaned(state.files);
                state.settled_registration = cleaned(state.registration);
                break;
            case Found::RolledBackPartlyRemoved:
                state.files[recovery + "journal.json"] = installed_journal("rolled_back");
                break;
        }
        return state;
    }
};

TEST_P(MigrationStateEndToEnd, ActionFinishesOrUndoesWhatItFinds) {
    const StateCase& state = GetParam();
    const Layout found = layout(state.found);
    lay_out(found.files);
    seed(found.registration);

    EXPECT_EQ(run_action(state.action), state.result);

    FileTree files = found.files;
    std::vector<RegistryKey> registration = found.registration;
    switch (state.after) {
        case After::Unchanged: break;
        case After::Settled:
            files = found.settled_files;
            registration = found.settled_registration;
            break;
        case After::SettledAndBegun: {
            registration = found.settled_registration;
            const std::vector<RegistryKey> captured(registration.begin(), registration.begin() + 2);
            files = with_recovery(found.settled_files,
                                  journal("prepared", found.settled_files, captured).json());
            break;
        }
        case After::Cleaned:
            files = cleaned(found.files);
            registration = cleaned(registration);
            break;
    }
    EXPECT_EQ(files_now(), files);
    EXPECT_EQ(registry_now(), registry_dump(registration));
}

std::string state_case_name(const ::testing::TestParamInfo<StateCase>& info) {
    return std::string(found_name(info.param.found)) + "_" + std::string(info.param.action);
}

INSTANTIATE_TEST_SUITE_P(Found, MigrationStateEndToEnd, ::testing::ValuesIn(STATE_CASES),
                         state_case_name);

}  // namespace
}  // namespace e2e
