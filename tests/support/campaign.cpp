#include "campaign.h"

#include "engine/begin.h"
#include "engine/commit.h"
#include "engine/owned_paths.h"
#include "engine/rollback.h"
#include "windows/verification_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <set>

namespace campaign {
namespace {

using installer_helper::Result;

constexpr const char* nonce = "0f8fad5b-d9cb-469f-a165-70867728950e";

Ending ending_of(const Result<>& result) {
    return result ? Ending{0, ""} : Ending{1, result.error().message()};
}

Ending begin() {
    return ending_of(installer_helper::begin_migration(installation, legacy_context()));
}

void add_sentinels(sim::Machine& machine) {
    std::set<std::string> names{"context.ini", "journal.json", "journal.new", "restore.new",
                                "a.dat", "sub\\b.dat", "sub\\deeper\\c.dat", "kept.dat"};
    for (const std::string_view binary : installer_helper::LAUNCHER_BINARIES)
        names.emplace(binary);
    for (const std::string_view owned : installer_helper::OWNED_FILES)
        names.emplace(owned.substr(owned.rfind('/') + 1));
    for (const std::string& name : names) machine.files.add_file(victim + "\\" + name, "sentinel");
    machine.files.add_directory(victim + "\\empty");
    machine.registry.set_value(HKU, victim_key, "Keep", installer_helper::REG_DWORD,
                               dword_bytes(7));
}

using FileState = std::map<std::string, std::string>;

void collect_files(sim::Machine& machine, const std::string& path, FileState& state) {
    const sim::Node* node = machine.files.find(path);
    if (node == nullptr) return;
    if (node->is_reparse_point()) {
        state[path] = "<link>";
        return;
    }
    if (!node->is_directory()) {
        state[path] = machine.files.contents(path);
        return;
    }
    state[path] = "<dir>";
    for (const std::string& name : machine.files.list(path))
        collect_files(machine, path + "\\" + name, state);
}

FileState files_under(sim::Machine& machine, const std::string& path) {
    FileState state;
    collect_files(machine, path, state);
    return state;
}

std::string leaf_of(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

// The player's files, by name and bytes, wherever a disturbance moved them.
std::multiset<std::pair<std::string, std::string>> player_files(sim::Machine& machine) {
    FileState everything;
    for (const std::string& name : machine.files.list("C:\\"))
        collect_files(machine, "C:\\" + name, everything);
    std::multiset<std::pair<std::string, std::string>> found;
    for (const auto& [path, bytes] : everything)
        if (bytes == "the player's" || bytes == "the player's too" || bytes == "not the launcher's")
            found.insert({leaf_of(path), bytes});
    return found;
}

// Every call in the full campaign; in the default run, about 30 calls
// spread over the whole action.
std::size_t stride(int calls) {
    const char* full = std::getenv("HELPER_FULL_CAMPAIGNS");
    if (full != nullptr && std::string(full) == "1") return 1;
    return static_cast<std::size_t>(std::max(1, calls / 30));
}

void set_up(sim::Machine& machine, const Action& action) {
    install_legacy(machine);
    add_sentinels(machine);
    machine.files.add_directory(setup_folder);
    machine.files.add_directory(temp).owner_sid = std::string(player_sid);
    machine.environment.temp_path = installer_helper::utf16_from_wtf8(temp + "\\");
    action.prepare(machine);
}

struct Baseline {
    FileState sentinels;
    std::multiset<std::pair<std::string, std::string>> players;
};

void check(sim::Machine& machine, const Ending& ending, const Baseline& baseline,
           const std::string& where, Figures& figures) {
    const auto expect = [&](bool holds, const std::string& what) {
        ++figures.checks;
        if (!holds) figures.violations.push_back(where + ": " + what);
    };
    expect(files_under(machine, victim) == baseline.sentinels, "a sentinel file changed");
    const sim::KeyValue* kept = machine.registry.value(HKU, victim_key, "Keep");
    expect(kept != nullptr && kept->data == dword_bytes(7) &&
               machine.registry.value_names(HKU, victim_key).size() == 1,
           "the sentinel key changed");
    expect(player_files(machine) == baseline.players, "a player's file changed or went");
    expect(machine.open_handle_count() == 0, "a handle was left open");
    expect(ending.status >= 0 && ending.status <= 2,
           "exit status " + std::to_string(ending.status));
    expect((ending.status == 0) == ending.message.empty() &&
               ending.message.find('\n') == std::string::npos,
           "message \"" + ending.message + "\" for status " + std::to_string(ending.status));
}

}  // namespace

Action begin_action() { return {"begin", [](sim::Machine&) {}, begin}; }

Action commit_action() {
    return {"commit", [](sim::Machine&) { ASSERT_EQ(begin(), (Ending{0, ""})); }, [] {
                const auto committed =
                    installer_helper::commit_migration(installation, legacy_context());
                if (!committed) return Ending{1, committed.error().message()};
                return *committed ? Ending{2, **committed} : Ending{0, ""};
            }};
}

Action rollback_action() {
    // What setup does between begin and rollback: a new launcher and registration.
    const auto begun_and_changed = [](sim::Machine& machine) {
        ASSERT_EQ(begin(), (Ending{0, ""}));
        machine.files.find(installation + "\\Quillmora Launcher.exe")->data = {'n', 'e', 'w'};
        machine.registry.set_value(HKU, player_key(launcher_registration), "Added",
                                   installer_helper::REG_DWORD, dword_bytes(1));
    };
    return {"rollback", begun_and_changed, [] {
                return ending_of(installer_helper::rollback_migration(installation, legacy_context()));
            }};
}

Action context_file_action() {
    return {"context file", [](sim::Machine&) {}, [] {
                return ending_of(installer_helper::write_installer_context(context_file,
                                                                           legacy_context()));
            }};
}

Action prepare_verification_action() {
    return {"prepare-verification", [](sim::Machine&) {}, [] {
                return ending_of(installer_helper::prepare_verification(legacy_context(), nonce));
            }};
}

Figures run(const Action& action, const DisturbancesAt& disturbances_at,
            bool settles_as_undisturbed) {
    Figures figures;
    std::vector<std::string> functions;  // of each call, in order
    Ending undisturbed_end;
    {
        sim::Machine machine;
        sim::ScopedMachine installed(machine);
        set_up(machine, action);
        machine.faults.before_each_call(
            [&](std::string_view function) { functions.emplace_back(function); });
        action.run();
        machine.faults.clear();
        for (int rerun = 0; rerun < 3; ++rerun) undisturbed_end = action.run();
    }
    figures.calls = static_cast<int>(functions.size());
    // The calls that something can disturb, and a spread of them.
    std::vector<int> candidates;
    for (int call = 1; call <= figures.calls; ++call)
        if (!disturbances_at(functions[call - 1]).empty()) candidates.push_back(call);
    const std::size_t step = stride(static_cast<int>(candidates.size()));
    for (std::size_t chosen = 0; chosen < candidates.size(); chosen += step) {
        const int call = candidates[chosen];
        for (const Disturbance& disturbance : disturbances_at(functions[call - 1])) {
            sim::Machine machine;
            sim::ScopedMachine installed(machine);
            set_up(machine, action);
            const Baseline baseline{files_under(machine, victim), player_files(machine)};
            int seen = 0;
            bool took_effect = false;
            machine.faults.before_each_call([&](std::string_view name) {
                if (++seen == call) took_effect = disturbance.apply(machine, name);
            });
            const Ending ending = action.run();
            machine.faults.clear();
            // An undisturbed run proves nothing new.
            if (!took_effect) {
                ++figures.passed_over;
                continue;
            }
            ++figures.disturbed;
            const std::string where = std::string(action.name) + ", " + disturbance.name +
                                      " at call " + std::to_string(call) + " (" +
                                      functions[call - 1] + ")";
            check(machine, ending, baseline, where, figures);
            Ending previous = action.run();
            check(machine, previous, baseline, where + ", rerun", figures);
            bool converged = false;
            for (int rerun = 0; rerun < 2 && !converged; ++rerun) {
                const Ending next = action.run();
                converged = next == previous;
                previous = next;
            }
            check(machine, previous, baseline, where + ", last rerun", figures);
            ++figures.checks;
            if (!converged) figures.violations.push_back(where + ": reruns never settle");
            if (settles_as_undisturbed) {
                ++figures.checks;
                if (previous != undisturbed_end)
                    figures.violations.push_back(where + ": reruns settle at \"" +
                                                 previous.message + "\", not where they should");
            }
        }
    }
    return figures;
}

Figures run(const Action& action, const std::vector<Disturbance>& disturbances) {
    return run(action, [&](std::string_view) { return disturbances; });
}

void report(std::string_view kind, const Action& action, const Figures& figures,
            std::string_view passed_over_as) {
    std::cout << "[ campaign ] " << kind << ", " << action.name << ": " << figures.calls
              << " calls, " << figures.disturbed + figures.passed_over << " runs ("
              << figures.passed_over << " " << passed_over_as << "), " << figures.checks
              << " checks, " << figures.violations.size() << " violations\n";
    for (std::size_t i = 0; i < figures.violations.size() && i < 10; ++i)
        ADD_FAILURE() << figures.violations[i];
}

}  // namespace campaign
