// Every crash point of begin, commit and rollback on one full installation:
// the run ends just before each change in turn, the machine restarts (with
// and without losing unflushed data), and the natural follow-up actions run
// to completion. Whatever the crash, a finished rollback restores the
// installation and registration exactly, a finished commit leaves exactly
// the committed state, and nothing outside the owned set ever changes.
#include "engine/begin.h"
#include "engine/commit.h"
#include "engine/owned_paths.h"
#include "engine/rollback.h"
#include "legacy_installation.h"
#include "simulated_test.h"

#include <gtest/gtest.h>

#include <functional>
#include <iostream>

using installer_helper::begin_migration;
using installer_helper::commit_migration;
using installer_helper::rollback_migration;

namespace {

using Restart = sim::Machine::Restart;

const std::string recovery_directory = std::string(legacy_directory) + "\\.quillmora-migration";

// The state after a commit: the owned files and trees and the older
// registration gone, everything else as it was.
MachineState committed(const MachineState& original) {
    MachineState state;
    for (const auto& [entry, content] : original)
        if (!is_owned(entry) && !is_legacy_registration(entry)) state[entry] = content;
    return state;
}

// An empty recovery directory means no transaction; a finished action may
// leave one behind when it was cut off right before removing it.
MachineState without_empty_recovery_directory(MachineState state) {
    const auto found = state.find(recovery_directory);
    if (found != state.end() && std::next(found) != state.end() &&
        std::next(found)->first.starts_with(recovery_directory + "\\"))
        return state;
    state.erase(recovery_directory);
    return state;
}

struct Figures {
    int crash_points = 0;
    int recoveries = 0;
};

class MigrationCrashSweep : public ::testing::Test {
protected:
    using Step = std::function<void(sim::Machine&)>;

    // Runs `setup`, then `crashing` cut off before each of its changes in
    // turn, then `recover`, and checks the state against `expected`.
    Figures sweep(const Step& setup, const std::function<void(sim::Machine&)>& crashing,
                  const std::function<std::string(sim::Machine&)>& recover,
                  const MachineState& expected) {
        int changes = 0;
        {
            sim::Machine machine;
            sim::ScopedMachine installed(machine);
            setup(machine);
            const int before = machine.changes_made();
            crashing(machine);
            changes = machine.changes_made() - before;
            EXPECT_EQ(recover(machine), "done") << "after the uninterrupted run";
            EXPECT_EQ(without_empty_recovery_directory(state_of(machine)), expected)
                << "after the uninterrupted run";
        }
        Figures figures;
        figures.crash_points = changes;
        for (int point = 1; point <= changes; ++point) {
            for (const Restart restart : {Restart::clean, Restart::power_loss}) {
                SCOPED_TRACE(testing::Message() << "crash before change " << point << " of "
                                                << changes << (restart == Restart::clean
                                                                   ? ", clean restart"
                                                                   : ", power loss"));
                sim::Machine machine;
                sim::ScopedMachine installed(machine);
                setup(machine);
                machine.crash_at_change(point);
                crashing(machine);
                EXPECT_TRUE(machine.crashed());
                machine.restart(restart);
                const std::string outcome = recover(machine);
                EXPECT_EQ(outcome, "done");
                EXPECT_EQ(without_empty_recovery_directory(state_of(machine)), expected);
                EXPECT_EQ(machine.open_handle_count(), 0u);
                ++figures.recoveries;
            }
        }
        return figures;
    }

    static std::string outcome_of(const installer_helper::Result<>& result) {
        return result ? "done" : result.error().message();
    }
    static void begin(sim::Machine&) {
        const auto begun = begin_migration(legacy_directory, legacy_context());
        EXPECT_TRUE(begun) << begun.error().message();
    }
    // What setup does between begin and its decision: one binary replaced,
    // one deleted, one added, and the registration changed.
    static void setup_changes(sim::Machine& machine) {
        const std::string directory(legacy_directory);
        machine.files.find(directory + "\\Quillmora Launcher.exe")->data = {'n', 'e', 'w'};
        machine.files.find(directory + "\\Quillmora Launcher.exe")->durable = {'n', 'e', 'w'};
        machine.files.remove_child(*machine.files.find(directory),
                                   *machine.files.find(directory + "\\uninstall.exe"));
        machine.registry.set_value(HKU, player_key(launcher_registration), "Added",
                                   installer_helper::REG_DWORD, dword_bytes(7));
        machine.registry.set_value(HKU, player_key(launcher_registration), "Icon",
                                   installer_helper::REG_BINARY, {9});
    }

    void SetUp() override {
        sim::Machine machine;
        sim::ScopedMachine installed(machine);
        install_legacy(machine);
        original_ = state_of(machine);
    }

    MachineState original_;
};

void report(const char* action, const Figures& figures) {
    std::cout << "[ sweep    ] " << action << ": " << figures.crash_points
              << " crash points, " << figures.recoveries << " recoveries checked\n";
}

TEST_F(MigrationCrashSweep, Begin) {
    const auto rollback = [](sim::Machine&) {
        return outcome_of(rollback_migration(legacy_directory, legacy_context()));
    };
    const auto begin_again_and_commit = [](sim::Machine&) {
        const auto begun = begin_migration(legacy_directory, legacy_context());
        if (!begun) return begun.error().message();
        const auto committed = commit_migration(legacy_directory, legacy_context());
        if (!committed) return committed.error().message();
        return *committed ? **committed : std::string("done");
    };
    const auto setup = [](sim::Machine& machine) { install_legacy(machine); };
    const auto begin_cut_off = [](sim::Machine&) {
        (void)begin_migration(legacy_directory, legacy_context());
    };
    const Figures undone =
        sweep(setup, begin_cut_off, rollback, without_empty_recovery_directory(original_));
    const Figures finished = sweep(setup, begin_cut_off, begin_again_and_commit, committed(original_));
    report("begin, then rollback", undone);
    report("begin, then begin and commit", finished);
    EXPECT_GT(undone.crash_points, 10);
}

TEST_F(MigrationCrashSweep, Commit) {
    const auto setup = [](sim::Machine& machine) {
        install_legacy(machine);
        begin(machine);
    };
    const auto commit = [](sim::Machine&) { (void)commit_migration(legacy_directory, legacy_context()); };
    // A commit cut off after its last change but one finds an empty
    // recovery directory and reports that nothing is left to commit.
    const auto commit_again = [](sim::Machine&) {
        const auto committed = commit_migration(legacy_directory, legacy_context());
        if (!committed) {
            return committed.error().message() == "Missing migration recovery journal."
                       ? std::string("done")
                       : committed.error().message();
        }
        return *committed ? **committed : std::string("done");
    };
    const Figures figures = sweep(setup, commit, commit_again, committed(original_));
    report("commit, then commit", figures);
    EXPECT_GT(figures.crash_points, 40);
}

TEST_F(MigrationCrashSweep, Rollback) {
    const auto setup = [](sim::Machine& machine) {
        install_legacy(machine);
        begin(machine);
        setup_changes(machine);
    };
    const auto rollback = [](sim::Machine&) {
        (void)rollback_migration(legacy_directory, legacy_context());
    };
    const auto rollback_again = [](sim::Machine&) {
        return outcome_of(rollback_migration(legacy_directory, legacy_context()));
    };
    const Figures figures =
        sweep(setup, rollback, rollback_again, without_empty_recovery_directory(original_));
    report("rollback, then rollback", figures);
    EXPECT_GT(figures.crash_points, 10);
}

}  // namespace
