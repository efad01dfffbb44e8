// The attacker campaign: at each Windows call that an action makes, another
// program of the original user takes one hostile step: it swaps an owned
// directory or an ancestor for a junction to a folder of sentinels, puts a
// directory or a link where an owned file is, adds a file to an owned tree,
// or turns a registration key or an ancestor into a registry link to a
// sentinel key. The other program is held to the rules Windows holds it to
// (renaming or deleting needs DELETE access, which an opening that does not
// share it denies), so a step the helper's pins refuse is refused here too.
//
// After each run: every sentinel file and key is byte-identical, the
// player's own files are still there with their bytes (where the step may
// have moved them), no handle is left open, the run ended with at most one
// line and a status of 0, 1 or 2, and clean reruns reach a fixed point with
// all of that still true.
//
// The default run steps in at about 30 calls of each action, spread over
// the whole run; HELPER_FULL_CAMPAIGNS=1 steps in at every call.
#include "engine/begin.h"
#include "engine/commit.h"
#include "engine/rollback.h"
#include "installer_context.h"
#include "legacy_installation.h"
#include "windows/verification_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <set>

using namespace installer_helper;

namespace {

const std::string installation(legacy_directory);
const std::string victim = "C:\\Victim";
const std::string victim_key = player_key("Software\\Victim");
const std::string victim_link = "\\Registry\\User\\" + player_key("Software\\Victim");
const std::string setup_folder = "C:\\Setup";
const std::string context_file = setup_folder + "\\context.ini";
const std::string temp = legacy_context().temp;
constexpr const char* nonce = "0f8fad5b-d9cb-469f-a165-70867728950e";

// What an action ended with: its exit status and its line.
struct Ending {
    int status = 0;
    std::string message;
    friend bool operator==(const Ending&, const Ending&) = default;
};

Ending ending_of(const Result<>& result) {
    return result ? Ending{0, ""} : Ending{1, result.error().message()};
}

struct Action {
    const char* name;
    std::function<void(sim::Machine&)> prepare;  // before the hostile program starts
    std::function<Ending()> run;
    std::vector<std::string> directories;  // swapped for junctions
    std::vector<std::string> files;        // replaced by a directory or a link
    std::vector<std::string> keys;         // turned into registry links
};

// One hostile step, taken once: false when Windows refused it.
struct HostileStep {
    std::string name;
    std::function<bool(sim::Machine&)> take;
};

std::string leaf_of(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

std::vector<HostileStep> hostile_steps(const Action& action) {
    std::vector<HostileStep> steps;
    for (const std::string& directory : action.directories) {
        steps.push_back({"junction at " + directory, [directory](sim::Machine& m) {
                             if (m.files.rename_as_other(directory, directory + ".parked") != 0 &&
                                 m.files.exists(directory))
                                 return false;
                             m.files.add_junction(directory, victim);
                             return true;
                         }});
    }
    for (const std::string& file : action.files) {
        // A name still held open stays until the last handle closes.
        const auto replace = [file](sim::Machine& m) {
            if (!m.files.exists(file)) return true;
            return m.files.delete_as_other(file) == 0 && !m.files.exists(file);
        };
        steps.push_back({"directory at " + file, [file, replace](sim::Machine& m) {
                             if (!replace(m)) return false;
                             m.files.add_file(file + "\\kept.dat", "another program's");
                             return true;
                         }});
        steps.push_back({"file link at " + file, [file, replace](sim::Machine& m) {
                             if (!replace(m)) return false;
                             m.files.add_symbolic_link(file, victim + "\\" + leaf_of(file), false);
                             return true;
                         }});
    }
    steps.push_back({"file added to a tree", [](sim::Machine& m) {
                         if (!m.files.exists(installation + "\\locales\\sub")) return false;
                         m.files.add_file(installation + "\\locales\\sub\\planted.dat", "planted");
                         return true;
                     }});
    for (const std::string& key : action.keys) {
        steps.push_back({"registry link at " + key, [key](sim::Machine& m) {
                             m.registry.remove_key(HKU, player_key(key));
                             m.registry.add_link(HKU, player_key(key), victim_link);
                             return true;
                         }});
    }
    return steps;
}

// The sentinels: a folder holding a file under every name the helper
// creates, replaces or deletes, and a registry key with values.
void add_sentinels(sim::Machine& machine) {
    std::set<std::string> names{"context.ini", "journal.json", "journal.new", "restore.new",
                                "a.dat", "sub\\b.dat", "sub\\deeper\\c.dat", "kept.dat"};
    for (const std::string_view binary : LAUNCHER_BINARIES) names.emplace(binary);
    for (const std::string_view owned : OWNED_FILES)
        names.emplace(owned.substr(owned.rfind('/') + 1));
    for (const std::string& name : names) machine.files.add_file(victim + "\\" + name, "sentinel");
    machine.files.add_directory(victim + "\\empty");
    machine.registry.set_value(HKU, victim_key, "Keep", REG_DWORD, dword_bytes(7));
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

// The player's files, by name and bytes, wherever a step moved them.
std::multiset<std::pair<std::string, std::string>> player_files(sim::Machine& machine) {
    std::multiset<std::pair<std::string, std::string>> found;
    FileState everything;
    for (const std::string& name : machine.files.list("C:\\"))
        collect_files(machine, "C:\\" + name, everything);
    for (const auto& [path, bytes] : everything)
        if (bytes == "the player's" || bytes == "the player's too" || bytes == "not the launcher's")
            found.insert({leaf_of(path), bytes});
    return found;
}

struct Figures {
    int calls = 0;
    int steps = 0;
    int refused = 0;
    int checks = 0;
    std::vector<std::string> violations;
};

class AttackerCampaign : public ::testing::Test {
protected:
    // Every call in the full campaign; in the default run, about 30 calls
    // spread over the whole action.
    static int stride(int calls) {
        const char* full = std::getenv("HELPER_FULL_CAMPAIGNS");
        if (full != nullptr && std::string(full) == "1") return 1;
        return std::max(1, calls / 30);
    }

    static void set_up(sim::Machine& machine, const Action& action) {
        install_legacy(machine);
        add_sentinels(machine);
        machine.files.add_directory(setup_folder);
        machine.files.add_directory(temp).owner_sid = std::string(player_sid);
        action.prepare(machine);
    }

    // The checks after a run; each failure is one violation.
    static void check(sim::Machine& machine, const Ending& ending, const FileState& sentinels,
                      const std::multiset<std::pair<std::string, std::string>>& players,
                      const std::string& where, Figures& figures) {
        const auto expect = [&](bool holds, const std::string& what) {
            ++figures.checks;
            if (!holds) figures.violations.push_back(where + ": " + what);
        };
        expect(files_under(machine, victim) == sentinels, "a sentinel file changed");
        const sim::KeyValue* kept = machine.registry.value(HKU, victim_key, "Keep");
        expect(kept != nullptr && kept->data == dword_bytes(7) &&
                   machine.registry.value_names(HKU, victim_key).size() == 1,
               "the sentinel key changed");
        expect(player_files(machine) == players, "a player's file changed or went");
        expect(machine.open_handle_count() == 0, "a handle was left open");
        expect(ending.status >= 0 && ending.status <= 2,
               "exit status " + std::to_string(ending.status));
        expect((ending.status == 0) == ending.message.empty() &&
                   ending.message.find('\n') == std::string::npos,
               "message \"" + ending.message + "\" for status " + std::to_string(ending.status));
    }

    static Figures campaign(const Action& action) {
        Figures figures;
        int calls = 0;
        {
            sim::Machine machine;
            sim::ScopedMachine installed(machine);
            set_up(machine, action);
            machine.faults.before_each_call([&](std::string_view) { ++calls; });
            action.run();
        }
        figures.calls = calls;
        for (const HostileStep& step : hostile_steps(action)) {
            for (int call = 1; call <= calls; call += stride(calls)) {
                sim::Machine machine;
                sim::ScopedMachine installed(machine);
                set_up(machine, action);
                const FileState sentinels = files_under(machine, victim);
                const auto players = player_files(machine);
                int seen = 0;
                std::string function;
                bool taken = false;
                machine.faults.before_each_call([&](std::string_view name) {
                    if (++seen != call) return;
                    function = name;
                    taken = step.take(machine);
                });
                const Ending ending = action.run();
                machine.faults.before_each_call(nullptr);
                ++figures.steps;
                if (!taken) ++figures.refused;
                const std::string where = std::string(action.name) + ", " + step.name +
                                          " before call " + std::to_string(call) + " (" +
                                          function + ")";
                check(machine, ending, sentinels, players, where, figures);
                // Clean reruns reach a fixed point within three runs.
                Ending previous = action.run();
                check(machine, previous, sentinels, players, where + ", rerun", figures);
                bool converged = false;
                for (int rerun = 0; rerun < 2 && !converged; ++rerun) {
                    const Ending next = action.run();
                    converged = next == previous;
                    previous = next;
                }
                check(machine, previous, sentinels, players, where + ", last rerun", figures);
                ++figures.checks;
                if (!converged) figures.violations.push_back(where + ": reruns never settle");
            }
        }
        return figures;
    }

    static void report(const Action& action, const Figures& figures) {
        std::cout << "[ campaign ] attacker, " << action.name << ": " << figures.calls
                  << " calls, " << figures.steps << " hostile steps (" << figures.refused
                  << " refused by Windows), " << figures.checks << " checks, "
                  << figures.violations.size() << " violations\n";
        for (std::size_t i = 0; i < figures.violations.size() && i < 10; ++i)
            ADD_FAILURE() << figures.violations[i];
    }
};

Ending begin() { return ending_of(begin_migration(installation, legacy_context())); }
Ending commit() {
    const auto committed = commit_migration(installation, legacy_context());
    if (!committed) return {1, committed.error().message()};
    return *committed ? Ending{2, **committed} : Ending{0, ""};
}
Ending rollback() { return ending_of(rollback_migration(installation, legacy_context())); }

void begun(sim::Machine&) { ASSERT_EQ(begin(), (Ending{0, ""})); }
// What setup does between begin and rollback: a new launcher and registration.
void begun_and_changed(sim::Machine& machine) {
    begun(machine);
    machine.files.find(installation + "\\Quillmora Launcher.exe")->data = {'n', 'e', 'w'};
    machine.registry.set_value(HKU, player_key(launcher_registration), "Added", REG_DWORD,
                               dword_bytes(1));
}

const std::string recovery = installation + "\\.quillmora-migration";

const std::vector<std::string> migration_directories{
    "C:\\Games", installation, installation + "\\resources", recovery,
    installation + "\\locales", installation + "\\locales\\sub"};
const std::vector<std::string> migration_files{
    installation + "\\resources\\app.asar", installation + "\\ffmpeg.dll",
    installation + "\\uninstall.exe",       recovery + "\\journal.json",
    recovery + "\\journal.new",              recovery + "\\restore.new",
    recovery + "\\uninstall.exe"};
const std::vector<std::string> migration_keys{
    std::string(launcher_registration), std::string(uninstall_registration), "Software\\Quillmora",
    std::string(legacy_registration)};

TEST_F(AttackerCampaign, Begin) {
    const Action action{"begin", [](sim::Machine&) {}, begin, migration_directories,
                        migration_files, migration_keys};
    const Figures figures = campaign(action);
    report(action, figures);
    EXPECT_TRUE(figures.violations.empty());
}

TEST_F(AttackerCampaign, Commit) {
    const Action action{"commit", begun, commit, migration_directories, migration_files,
                        migration_keys};
    const Figures figures = campaign(action);
    report(action, figures);
    EXPECT_TRUE(figures.violations.empty());
}

TEST_F(AttackerCampaign, Rollback) {
    const Action action{"rollback", begun_and_changed, rollback, migration_directories,
                        migration_files, migration_keys};
    const Figures figures = campaign(action);
    report(action, figures);
    EXPECT_TRUE(figures.violations.empty());
}

TEST_F(AttackerCampaign, ContextFile) {
    InstallerContext context = legacy_context();
    const Action action{
        "context file", [](sim::Machine&) {},
        [context] { return ending_of(write_installer_context(context_file, context)); },
        {setup_folder}, {context_file}, {}};
    const Figures figures = campaign(action);
    report(action, figures);
    EXPECT_TRUE(figures.violations.empty());
}

TEST_F(AttackerCampaign, PrepareVerification) {
    const auto prepare = [](sim::Machine& machine) {
        machine.environment.temp_path = installer_helper::utf16_from_wtf8(temp + "\\");
    };
    const std::string parent = temp.substr(0, temp.rfind('\\'));
    const Action action{
        "prepare-verification", prepare,
        [] { return ending_of(prepare_verification(legacy_context(), nonce)); },
        {temp, parent, "C:\\Users\\player"},
        {temp + "\\quillmora-migration-" + nonce}, {}};
    const Figures figures = campaign(action);
    report(action, figures);
    EXPECT_TRUE(figures.violations.empty());
}

}  // namespace
