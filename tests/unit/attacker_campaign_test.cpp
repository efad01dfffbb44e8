// The attacker campaign: at each Windows call that an action makes, another
// program of the original user takes one hostile step. It swaps an owned
// directory or an ancestor for a junction to the sentinel folder, puts a
// directory or a link where an owned file is, adds a file to an owned tree,
// or turns a registration key or an ancestor into a registry link to the
// sentinel key. The other program is held to the rules Windows holds it to
// (renaming or deleting needs DELETE access, which an opening that does not
// share it denies), so a step the helper's pins refuse is refused here too.
// What is checked after each run is in campaign.h.
#include "campaign.h"

#include <gtest/gtest.h>

namespace {

using namespace campaign;

std::string leaf_of(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

Disturbance junction_at(const std::string& directory) {
    return {"junction at " + directory, [directory](sim::Machine& m, std::string_view) {
                if (m.files.rename_as_other(directory, directory + ".parked") != 0 &&
                    m.files.exists(directory))
                    return false;
                m.files.add_junction(directory, victim);
                return true;
            }};
}

// A name still held open stays until the last handle closes.
bool took_the_name(sim::Machine& m, const std::string& file) {
    if (!m.files.exists(file)) return true;
    return m.files.delete_as_other(file) == 0 && !m.files.exists(file);
}

std::vector<Disturbance> replacements_of(const std::string& file) {
    return {{"directory at " + file,
             [file](sim::Machine& m, std::string_view) {
                 if (!took_the_name(m, file)) return false;
                 m.files.add_file(file + "\\kept.dat", "another program's");
                 return true;
             }},
            {"file link at " + file, [file](sim::Machine& m, std::string_view) {
                 if (!took_the_name(m, file)) return false;
                 m.files.add_symbolic_link(file, victim + "\\" + leaf_of(file), false);
                 return true;
             }}};
}

Disturbance registry_link_at(const std::string& key) {
    return {"registry link at " + key, [key](sim::Machine& m, std::string_view) {
                m.registry.remove_key(HKU, player_key(key));
                m.registry.add_link(HKU, player_key(key), victim_link);
                return true;
            }};
}

const Disturbance file_added_to_a_tree{"file added to a tree", [](sim::Machine& m,
                                                                  std::string_view) {
    if (!m.files.exists(installation + "\\locales\\sub")) return false;
    m.files.add_file(installation + "\\locales\\sub\\planted.dat", "planted");
    return true;
}};

std::vector<Disturbance> hostile_steps(const std::vector<std::string>& directories,
                                       const std::vector<std::string>& files,
                                       const std::vector<std::string>& keys) {
    std::vector<Disturbance> steps{file_added_to_a_tree};
    for (const std::string& directory : directories) steps.push_back(junction_at(directory));
    for (const std::string& file : files)
        for (Disturbance& step : replacements_of(file)) steps.push_back(std::move(step));
    for (const std::string& key : keys) steps.push_back(registry_link_at(key));
    return steps;
}

const std::vector<Disturbance>& migration_steps() {
    static const std::vector<Disturbance> steps = hostile_steps(
        {"C:\\Games", installation, installation + "\\resources", recovery,
         installation + "\\locales", installation + "\\locales\\sub"},
        {installation + "\\resources\\app.asar", installation + "\\ffmpeg.dll",
         installation + "\\uninstall.exe", recovery + "\\journal.json", recovery + "\\journal.new",
         recovery + "\\restore.new", recovery + "\\uninstall.exe"},
        {std::string(launcher_registration), std::string(uninstall_registration),
         "Software\\Quillmora", std::string(legacy_registration)});
    return steps;
}

void expect_no_violation(const Action& action, const std::vector<Disturbance>& steps) {
    const Figures figures = run(action, steps);
    report("attacker", action, figures, "refused by Windows");
    EXPECT_TRUE(figures.violations.empty());
}

TEST(AttackerCampaign, Begin) { expect_no_violation(begin_action(), migration_steps()); }
TEST(AttackerCampaign, Commit) { expect_no_violation(commit_action(), migration_steps()); }
TEST(AttackerCampaign, Rollback) { expect_no_violation(rollback_action(), migration_steps()); }

TEST(AttackerCampaign, ContextFile) {
    expect_no_violation(context_file_action(), hostile_steps({setup_folder}, {context_file}, {}));
}

TEST(AttackerCampaign, PrepareVerification) {
    const std::string parent = temp.substr(0, temp.rfind('\\'));
    expect_no_violation(
        prepare_verification_action(),
        hostile_steps({temp, parent, "C:\\Users\\player"},
                      {temp + "\\quillmora-migration-0f8fad5b-d9cb-469f-a165-70867728950e"}, {}));
}

}  // namespace
