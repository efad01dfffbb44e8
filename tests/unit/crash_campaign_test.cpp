// The crash campaign. For every scenario of crash_scenarios.h and each of
// begin, commit and rollback, the run is cut off before each change it
// makes; the machine restarts cleanly or after a power loss (the model is
// the simulated file system's, sim::FileSystem::PowerLoss: a prefix of the
// name changes not yet forced, unflushed data old, empty or torn); then
// each follow-up that setup runs after a failure (rollback, commit, begin
// again with setup's changes and a commit) runs until it settles, in a
// second series itself cut off once more at sampled points (a double
// crash) with another restart.
//
// What must hold at every restart:
// - nothing outside the owned set changes: every entry that is not an owned
//   file or tree, a launcher binary, the recovery directory or a
//   registration key keeps its bytes; an owned entry is there with its
//   bytes or gone; the older registration is there unchanged, or gone only
//   when it named this installation;
// - no binary is torn: each is its content at begin or after setup's
//   changes (or absent where it was);
// - while the journal on disk is prepared, every binary it lists has a
//   good copy in the recovery directory or in place.
// At the end of each follow-up, besides those:
// - a finished rollback leaves the installation and registration exactly
//   as they were when the transaction began;
// - a finished commit leaves the owned files and trees gone, the older
//   registration gone exactly when it named this installation, the
//   binaries and the launcher's registration as they were before it, and
//   no recovery directory; begin, setup's changes and commit leave exactly
//   the state of an uninterrupted run;
// - a refusal leaves the machine as it found it;
// - every run ends with status 0, 1 or 2 and a one-line message exactly
//   when it is not 0; no handle stays open;
// - recovery settles within three runs.
// Separately, a power loss after an action exited 0, at every prefix of its
// unforced changes, must leave what it reported.
//
// The default run samples: about six crash points of each action and
// scenario, a clean restart and one power loss at each, and one double
// crash per follow-up. HELPER_FULL_CAMPAIGNS=1 takes every crash point, a
// clean restart and power losses keeping none, half and all of the unforced
// changes with each kind of data loss, and two double crashes per follow-up.
#include "crash_scenarios.h"
#include "engine/begin.h"
#include "engine/commit.h"
#include "engine/journal.h"
#include "engine/owned_paths.h"
#include "engine/rollback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <set>

namespace {

using PowerLoss = sim::FileSystem::PowerLoss;
using Restart = sim::Machine::Restart;

const std::string directory(legacy_directory);
const std::string recovery = directory + "\\.quillmora-migration";
constexpr int settle_bound = 3;

bool full_campaign() {
    const char* full = std::getenv("HELPER_FULL_CAMPAIGNS");
    return full != nullptr && std::string(full) == "1";
}

struct Ending {
    int status = 0;
    std::string message;
    friend bool operator==(const Ending&, const Ending&) = default;
};

Ending ending_of(const installer_helper::Result<>& result) {
    return result ? Ending{} : Ending{1, result.error().message()};
}
Ending begin() {
    return ending_of(installer_helper::begin_migration(legacy_directory, legacy_context()));
}
Ending rollback() {
    return ending_of(installer_helper::rollback_migration(legacy_directory, legacy_context()));
}
Ending commit() {
    const auto committed = installer_helper::commit_migration(legacy_directory, legacy_context());
    if (!committed) return {1, committed.error().message()};
    return *committed ? Ending{2, **committed} : Ending{};
}

// A clean restart when `loss` is empty.
struct RestartModel {
    std::optional<PowerLoss> loss;

    void apply(sim::Machine& machine) const {
        if (loss) machine.restart(Restart::power_loss, *loss);
        else machine.restart(Restart::clean);
    }
    std::string name() const {
        if (!loss) return "clean restart";
        constexpr const char* data[] = {"old", "empty", "torn"};
        return "power loss keeping " + std::to_string(loss->kept_changes) + " changes, data " +
               data[static_cast<int>(loss->data)];
    }
};

std::vector<RestartModel> restarts_after(std::size_t unforced, std::uint32_t seed) {
    using Data = PowerLoss::Data;
    std::vector<RestartModel> models{{}};
    if (!full_campaign()) {
        // One power loss a point, its kind turning from point to point.
        const std::size_t turn = seed % 3;
        models.push_back({PowerLoss{turn == 0 ? 0 : turn == 1 ? unforced : unforced / 2,
                                    static_cast<Data>(turn), seed}});
        return models;
    }
    std::set<std::size_t> kept{0, unforced / 2, unforced};
    for (const std::size_t prefix : kept)
        for (const Data outcome : {Data::old, Data::empty, Data::torn})
            models.push_back({PowerLoss{prefix, outcome, seed}});
    return models;
}

MachineState without_empty_recovery_directory(MachineState state) {
    const auto found = state.find(recovery);
    if (found == state.end()) return state;
    if (std::next(found) != state.end() && std::next(found)->first.starts_with(recovery + "\\"))
        return state;
    state.erase(found);
    return state;
}

bool is_binary(const std::string& entry) {
    for (const std::string_view binary : installer_helper::LAUNCHER_BINARIES)
        if (entry == directory + "\\" + std::string(binary)) return true;
    return false;
}
bool is_recovery(const std::string& entry) {
    return entry == recovery || entry.starts_with(recovery + "\\");
}

std::optional<std::string> entry_of(const MachineState& state, const std::string& entry) {
    const auto found = state.find(entry);
    if (found == state.end()) return std::nullopt;
    return found->second;
}

MachineState binaries_and_registration(const MachineState& state) {
    MachineState kept;
    for (const auto& [entry, content] : state)
        if (is_binary(entry) || is_launcher_registration(entry)) kept[entry] = content;
    return kept;
}

// What the uninterrupted runs of a scenario show: the states the checks
// compare with.
struct Expected {
    const Scenario* scenario = nullptr;
    MachineState initial;      // as laid out, with the earlier run's leftovers
    MachineState at_begin;     // when the transaction began
    MachineState after_setup;  // and setup's changes
    MachineState after_commit;
};

struct Figures {
    int scenarios = 0;
    int crash_points = 0;
    int follow_ups = 0;  // a follow-up run after a restart
    int recoveries = 0;
    int double_crashes = 0;
    int most_runs_to_settle = 0;
    int checks = 0;
    std::vector<std::string> violations;

    void expect(bool holds, const std::string& what) {
        ++checks;
        if (!holds) violations.push_back(what);
    }
};

// The invariants that hold at every restart.
void check_consistent(sim::Machine& machine, const Expected& expected, const std::string& where,
                      Figures& figures) {
    const MachineState now = state_of(machine);
    std::set<std::string> entries;
    for (const auto& [entry, content] : now) entries.insert(entry);
    for (const auto& [entry, content] : expected.initial) entries.insert(entry);
    for (const auto& [entry, content] : expected.after_setup) entries.insert(entry);
    for (const std::string& entry : entries) {
        if (is_recovery(entry) || is_launcher_registration(entry)) continue;
        const auto found = entry_of(now, entry);
        const auto initial = entry_of(expected.initial, entry);
        if (is_binary(entry)) {
            figures.expect(found == initial || found == entry_of(expected.at_begin, entry) ||
                               found == entry_of(expected.after_setup, entry),
                           where + ": " + entry + " is neither its old nor its new content");
        } else if (is_owned(entry)) {
            figures.expect(!found || found == initial, where + ": owned " + entry + " changed");
        } else if (is_legacy_registration(entry)) {
            figures.expect(found == initial || (!found && expected.scenario->legacy_here),
                           where + ": the older registration " + entry + " changed");
        } else {
            figures.expect(found == initial, where + ": " + entry + " changed");
        }
    }
    // A prepared transaction can always be rolled back.
    const sim::Node* journal_file = machine.files.find(recovery + "\\journal.json");
    if (journal_file == nullptr) return;
    const std::string bytes = machine.files.contents(recovery + "\\journal.json");
    const auto journal = installer_helper::decode_journal(bytes);
    figures.expect(journal.has_value(), where + ": the journal does not decode");
    if (!journal || journal->stage != installer_helper::JournalStage::Prepared) return;
    for (const std::string& binary : journal->binaries) {
        const std::string path = directory + "\\" + binary;
        const auto good = entry_of(expected.at_begin, path);
        figures.expect(entry_of(now, recovery + "\\" + binary) == good || entry_of(now, path) == good,
                       where + ": no good copy of " + binary + " while prepared");
    }
}

void check_ending(const Ending& ending, const std::string& where, Figures& figures) {
    figures.expect(ending.status >= 0 && ending.status <= 2 &&
                       (ending.status == 0) == ending.message.empty() &&
                       ending.message.find('\n') == std::string::npos,
                   where + ": status " + std::to_string(ending.status) + " with \"" +
                       ending.message + "\"");
}

// A finished commit: the owned set gone, the older registration gone when
// it named this installation, the binaries and registration untouched.
void check_committed(const MachineState& now, const MachineState& before, const Expected& expected,
                     const std::string& where, Figures& figures) {
    figures.expect(now == committed(now, expected.scenario->legacy_here),
                   where + ": an owned entry or the older registration is left");
    figures.expect(!now.contains(recovery), where + ": the recovery directory is left");
    figures.expect(binaries_and_registration(now) == binaries_and_registration(before),
                   where + ": the commit changed a binary or the registration");
}

using Step = std::function<void(sim::Machine&)>;

// What was there right before a run of a follow-up.
struct BeforeRun {
    MachineState state;
    bool transaction = false;  // a journal, first or current
};

BeforeRun before_run(sim::Machine& machine) {
    return {state_of(machine), machine.files.exists(recovery + "\\journal.json") ||
                                   machine.files.exists(recovery + "\\journal.new")};
}

struct FollowUp {
    const char* name;
    std::function<Ending(sim::Machine&)> attempt;
    // Whether the ending is where the follow-up stops, and the checks then.
    std::function<bool(const Ending&, sim::Machine&, const BeforeRun&, const Expected&,
                       const std::string& where, Figures&)>
        settled;
};

const std::vector<FollowUp>& follow_ups() {
    static const std::vector<FollowUp> all{
        {"rollback", [](sim::Machine&) { return rollback(); },
         [](const Ending& ending, sim::Machine& machine, const BeforeRun& before,
            const Expected& expected, const std::string& where, Figures& figures) {
             const MachineState now = without_empty_recovery_directory(state_of(machine));
             if (ending.status == 0) {
                 // Without a journal there is nothing to undo: a commit that
                 // lost its journal had finished.
                 if (before.transaction)
                     figures.expect(now == expected.at_begin, where + ": not restored as at begin");
                 else
                     figures.expect(now == without_empty_recovery_directory(before.state),
                                    where + ": a rollback with nothing to undo changed something");
                 return true;
             }
             if (ending.message != "The migration was already committed and cannot be rolled back.")
                 return false;
             check_committed(now, before.state, expected, where, figures);
             return true;
         }},
        {"commit", [](sim::Machine&) { return commit(); },
         [](const Ending& ending, sim::Machine& machine, const BeforeRun& before,
            const Expected& expected, const std::string& where, Figures& figures) {
             const MachineState now = without_empty_recovery_directory(state_of(machine));
             if (ending.status == 0) {
                 check_committed(now, before.state, expected, where, figures);
                 return true;
             }
             if (ending.message != "Missing migration recovery journal." &&
                 ending.message != "The migration transaction is not prepared for commit.")
                 return false;
             figures.expect(now == without_empty_recovery_directory(before.state),
                            where + ": a refused commit changed something");
             return true;
         }},
        {"begin, setup's changes, commit",
         [](sim::Machine& machine) {
             const Ending begun = begin();
             if (begun.status != 0) return begun;
             make_setup_changes(machine);
             return commit();
         },
         [](const Ending& ending, sim::Machine& machine, const BeforeRun&,
            const Expected& expected, const std::string& where, Figures& figures) {
             if (ending.status != 0) return false;
             figures.expect(state_of(machine) == expected.after_commit,
                            where + ": not the state of an uninterrupted migration");
             return true;
         }},
    };
    return all;
}

// Runs the follow-up until it settles.
void recover(sim::Machine& machine, const FollowUp& follow_up, const Expected& expected,
             const std::string& where, Figures& figures) {
    for (int run = 1; run <= settle_bound; ++run) {
        const BeforeRun before = before_run(machine);
        const Ending ending = follow_up.attempt(machine);
        const std::string at = where + ", " + follow_up.name + " run " + std::to_string(run);
        check_ending(ending, at, figures);
        figures.expect(machine.open_handle_count() == 0, at + ": a handle was left open");
        check_consistent(machine, expected, at, figures);
        if (follow_up.settled(ending, machine, before, expected, at, figures)) {
            ++figures.recoveries;
            figures.most_runs_to_settle = std::max(figures.most_runs_to_settle, run);
            return;
        }
    }
    figures.expect(false, where + ", " + follow_up.name + ": does not settle within " +
                              std::to_string(settle_bound) + " runs");
}

struct CrashingAction {
    const char* name;
    Step prepare;  // after the scenario's lay-out
    std::function<Ending()> run;
};

const std::vector<CrashingAction>& crashing_actions() {
    const auto begun_and_changed = [](sim::Machine& machine) {
        if (begin().status != 0) throw std::runtime_error("crash campaign: begin failed");
        make_setup_changes(machine);
    };
    static const std::vector<CrashingAction> all{
        {"begin", [](sim::Machine&) {}, begin},
        {"commit", begun_and_changed, commit},
        {"rollback", begun_and_changed, rollback},
    };
    return all;
}

Expected expected_of(const Scenario& scenario) {
    Expected expected;
    expected.scenario = &scenario;
    sim::Machine machine;
    sim::ScopedMachine installed(machine);
    lay_out(machine, scenario);
    expected.initial = state_of(machine);
    EXPECT_EQ(begin(), Ending{}) << scenario.name;
    for (const auto& [entry, content] : state_of(machine))
        if (!is_recovery(entry)) expected.at_begin[entry] = content;
    make_setup_changes(machine);
    for (const auto& [entry, content] : state_of(machine))
        if (!is_recovery(entry)) expected.after_setup[entry] = content;
    EXPECT_EQ(commit(), Ending{}) << scenario.name;
    expected.after_commit = state_of(machine);
    EXPECT_EQ(expected.after_commit, committed(expected.after_setup, scenario.legacy_here))
        << scenario.name;
    return expected;
}

// Everything up to the crash, on a fresh machine: lay-out, preparation, and
// the action cut off before its change `point`.
void crash(sim::Machine& machine, const Scenario& scenario, const CrashingAction& action,
           int point) {
    lay_out(machine, scenario);
    action.prepare(machine);
    machine.crash_at_change(point);
    action.run();
}

int changes_of(const Scenario& scenario, const CrashingAction& action) {
    sim::Machine machine;
    sim::ScopedMachine installed(machine);
    lay_out(machine, scenario);
    action.prepare(machine);
    const int before = machine.changes_made();
    action.run();
    return machine.changes_made() - before;
}

std::vector<int> sampled(int count, int wanted) {
    std::vector<int> points;
    const int step = std::max(1, count / std::max(1, wanted));
    for (int point = 1; point <= count; point += step) points.push_back(point);
    if (!points.empty() && points.back() != count) points.push_back(count);
    return points;
}

void run_crash_campaign(const CrashingAction& action, Figures& figures) {
    const bool full = full_campaign();
    for (const Scenario& scenario : crash_scenarios()) {
        const Expected expected = expected_of(scenario);
        ++figures.scenarios;
        const int changes = changes_of(scenario, action);
        const std::vector<int> points =
            full ? sampled(changes, changes) : sampled(changes, 6);
        for (const int point : points) {
            ++figures.crash_points;
            std::size_t unforced = 0;
            {
                sim::Machine machine;
                sim::ScopedMachine installed(machine);
                crash(machine, scenario, action, point);
                unforced = machine.files.unforced_changes();
            }
            const auto seed = static_cast<std::uint32_t>(point);
            for (const RestartModel& restart : restarts_after(unforced, seed)) {
                for (const FollowUp& follow_up : follow_ups()) {
                    ++figures.follow_ups;
                    const std::string where = std::string(scenario.name) + ", " + action.name +
                                              " cut off before change " + std::to_string(point) +
                                              ", " + restart.name();
                    // The follow-up run to its end, counting its own changes.
                    int follow_up_changes = 0;
                    {
                        sim::Machine machine;
                        sim::ScopedMachine installed(machine);
                        crash(machine, scenario, action, point);
                        restart.apply(machine);
                        check_consistent(machine, expected, where, figures);
                        const int start = machine.changes_made();
                        recover(machine, follow_up, expected, where, figures);
                        follow_up_changes = machine.changes_made() - start;
                    }
                    // The follow-up cut off too, and then run to its end.
                    for (const int second : sampled(follow_up_changes, full ? 2 : 1)) {
                        sim::Machine machine;
                        sim::ScopedMachine installed(machine);
                        crash(machine, scenario, action, point);
                        restart.apply(machine);
                        machine.crash_at_change(second);
                        (void)follow_up.attempt(machine);
                        if (!machine.crashed()) continue;
                        ++figures.double_crashes;
                        const RestartModel again{
                            second % 2 == 0 ? std::nullopt
                                            : std::optional(PowerLoss{
                                                  machine.files.unforced_changes() / 2,
                                                  PowerLoss::Data::torn, seed + 1})};
                        again.apply(machine);
                        const std::string twice = where + ", " + follow_up.name +
                                                  " cut off before change " +
                                                  std::to_string(second) + ", " + again.name();
                        check_consistent(machine, expected, twice, figures);
                        recover(machine, follow_up, expected, twice, figures);
                    }
                }
            }
        }
    }
}

void report_violations(const Figures& figures) {
    for (std::size_t i = 0; i < figures.violations.size() && i < 10; ++i)
        ADD_FAILURE() << figures.violations[i];
}

class CrashCampaign : public ::testing::TestWithParam<int> {};

TEST_P(CrashCampaign, EveryCrashRecovers) {
    const CrashingAction& action = crashing_actions()[GetParam()];
    Figures figures;
    run_crash_campaign(action, figures);
    std::cout << "[ campaign ] crashes, " << action.name << ": " << figures.scenarios
              << " scenarios, " << figures.crash_points << " crash points, " << figures.follow_ups
              << " follow-ups after a restart, " << figures.recoveries << " recoveries ("
              << figures.double_crashes << " after a second crash, at most "
              << figures.most_runs_to_settle << " runs each), " << figures.checks << " checks, "
              << figures.violations.size() << " violations\n";
    report_violations(figures);
    EXPECT_TRUE(figures.violations.empty());
}

INSTANTIATE_TEST_SUITE_P(Actions, CrashCampaign, ::testing::Values(0, 1, 2),
                         [](const auto& info) { return crashing_actions()[info.param].name; });

// A run that exited 0 told setup something: a power loss right after it,
// keeping any prefix of the changes it did not force, must not undo that.
TEST(PowerLossAfterSuccess, WhatWasReportedHolds) {
    Figures figures;
    for (const CrashingAction& action : crashing_actions()) {
        for (const Scenario& scenario : crash_scenarios()) {
            const Expected expected = expected_of(scenario);
            std::size_t unforced = 0;
            {
                sim::Machine machine;
                sim::ScopedMachine installed(machine);
                lay_out(machine, scenario);
                action.prepare(machine);
                if (action.run().status != 0) continue;
                unforced = machine.files.unforced_changes();
            }
            ++figures.scenarios;
            for (std::size_t kept = 0; kept <= unforced; ++kept) {
                for (const auto data :
                     {PowerLoss::Data::old, PowerLoss::Data::empty, PowerLoss::Data::torn}) {
                    const RestartModel loss{PowerLoss{kept, data, 17}};
                    const std::string where = std::string(scenario.name) + ", " + action.name +
                                              " exited 0, " + loss.name();
                    sim::Machine machine;
                    sim::ScopedMachine installed(machine);
                    lay_out(machine, scenario);
                    action.prepare(machine);
                    const MachineState before = state_of(machine);
                    (void)action.run();
                    loss.apply(machine);
                    ++figures.follow_ups;
                    check_consistent(machine, expected, where, figures);
                    const MachineState now = without_empty_recovery_directory(state_of(machine));
                    const std::string_view name = action.name;
                    if (name == "rollback")
                        figures.expect(now == expected.at_begin, where + ": not restored");
                    if (name == "commit") check_committed(now, before, expected, where, figures);
                    if (name == "begin") {
                        const auto journal = installer_helper::decode_journal(
                            machine.files.contents(recovery + "\\journal.json"));
                        figures.expect(journal &&
                                           journal->stage == installer_helper::JournalStage::Prepared,
                                       where + ": the transaction is not prepared");
                    }
                }
            }
        }
    }
    std::cout << "[ campaign ] power loss after exit 0: " << figures.scenarios
              << " runs that exited 0, " << figures.follow_ups << " power losses, "
              << figures.checks << " checks, " << figures.violations.size() << " violations\n";
    report_violations(figures);
    EXPECT_TRUE(figures.violations.empty());
}

}  // namespace
