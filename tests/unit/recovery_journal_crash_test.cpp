// A run cut off at any change of a journal write, then the next run's
// reading of the recovery directory: after a process crash, and after a
// power loss, which keeps only what was on disk.
#include "engine/recovery_journal.h"

#include "recovery_scenario.h"

#include <gtest/gtest.h>

using installer_helper::Journal;
using installer_helper::JournalStage;
using installer_helper::open_migration_target;
using installer_helper::read_recovery_state;
using installer_helper::write_journal;

namespace {

using Restart = sim::Machine::Restart;

// What the next reader finds when the run ends at one change of the write.
struct Row {
    std::string crash_at;  // the call whose change never happens ("" for none)
    const char* after_crash;
    const char* after_power_loss;
};

struct Scenario {
    const char* name;
    bool previous;  // a "journal.json" at backing_up is there already
    bool stale;     // and a read-only "journal.new" from an interrupted write
    Journal next;
    std::vector<Row> rows;  // one per change of the write, then the write that completes
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

void set_up(sim::Machine& machine, const Scenario& scenario) {
    machine.files.add_directory(recovery_directory);
    if (scenario.previous)
        machine.files.add_file(recovery_file("journal.json"), journal_document(recovery_journal()));
    if (scenario.stale)
        machine.files.add_file(recovery_file("journal.new"), "{\"vers").attributes |=
            win::FILE_ATTRIBUTE_READONLY;
    machine.faults.record({"SetFileInformationByHandle", "CreateFileW", "WriteFile",
                           "FlushFileBuffers", "MoveFileExW"});
}

std::string found_after(const Scenario& scenario, const Row& row, int crash_at, Restart restart) {
    sim::Machine machine;
    const sim::ScopedMachine installed(machine);
    set_up(machine, scenario);
    const auto target = open_migration_target(migration_directory, migration_context()).value();

    machine.crash_at_change(crash_at);  // 0: never
    const auto written = write_journal(target, scenario.next);
    EXPECT_EQ(written.has_value(), crash_at == 0);
    if (crash_at != 0) {
        // The last call that got through to the machine is the one it crashed in.
        EXPECT_TRUE(machine.crashed());
        EXPECT_TRUE(machine.faults.recorded().back().starts_with(row.crash_at))
            << machine.faults.recorded().back();
    }
    machine.restart(restart);
    const std::string found = found_state(read_recovery_state(target));
    EXPECT_EQ(machine.open_handle_count(), 0u);
    return found;
}

class JournalCrashTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(JournalCrashTest, TheNextReaderFindsTheOldOrTheNewJournal) {
    const auto& rows = GetParam().rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int crash_at = i + 1 < rows.size() ? static_cast<int>(i) + 1 : 0;
        EXPECT_EQ(found_after(GetParam(), rows[i], crash_at, Restart::clean), rows[i].after_crash)
            << "crash at " << rows[i].crash_at;
        EXPECT_EQ(found_after(GetParam(), rows[i], crash_at, Restart::power_loss),
                  rows[i].after_power_loss)
            << "crash at " << rows[i].crash_at << ", power loss";
    }
}

TEST_P(JournalCrashTest, EveryChangeOfTheWriteIsARow) {
    sim::Machine machine;
    const sim::ScopedMachine installed(machine);
    set_up(machine, GetParam());
    const auto target = open_migration_target(migration_directory, migration_context()).value();
    ASSERT_TRUE(write_journal(target, GetParam().next));
    EXPECT_EQ(static_cast<std::size_t>(machine.changes_made()), GetParam().rows.size() - 1);
}

// A call on "journal.new", as the machine logs it.
std::string on_new(std::string_view function) {
    return std::string(function) + " " + recovery_file("journal.new");
}

// The first journal and the one it replaces are at backing_up, the
// replacing one at prepared.
const char* const first_journal = "stage backing_up";
const char* const old_journal = "stage backing_up";
const char* const new_journal = "stage prepared";

// A first journal cut off while it was written stands for a transaction
// that had only begun. A power loss keeps what the last flush or write-through rename put on
// disk: before the flush of "journal.new", not even its name survives.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Scenarios, JournalCrashTest,
    ::testing::Values(
        Scenario{"FirstJournal", false, false,
                 recovery_journal(JournalStage::BackingUp, {"uninstall.exe"}),
                 {{on_new("CreateFileW"),        "none",           "none"},
                  {"WriteFile",                  first_journal,    "none"},
                  {"FlushFileBuffers",           first_journal,    "none"},
                  {on_new("MoveFileExW"),        first_journal,    first_journal},
                  {"",                           first_journal,    first_journal}}},
        Scenario{"LaterJournal", true, false, recovery_journal(JournalStage::Prepared),
                 {{on_new("CreateFileW"),        old_journal,      old_journal},
                  {"WriteFile",                  old_journal,      old_journal},
                  {"FlushFileBuffers",           old_journal,      old_journal},
                  {on_new("MoveFileExW"),        old_journal,      old_journal},
                  {"",                           new_journal,      new_journal}}},
        Scenario{"LaterJournalAfterAnInterruptedOne", true, true,
                 recovery_journal(JournalStage::Prepared),
                 // The stale file's read-only attribute cleared, then its deletion.
                 {{on_new("SetFileInformationByHandle"), old_journal, old_journal},
                  {on_new("SetFileInformationByHandle"), old_journal, old_journal},
                  {on_new("CreateFileW"),        old_journal,      old_journal},
                  {"WriteFile",                  old_journal,      old_journal},
                  {"FlushFileBuffers",           old_journal,      old_journal},
                  {on_new("MoveFileExW"),        old_journal,      old_journal},
                  {"",                           new_journal,      new_journal}}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
