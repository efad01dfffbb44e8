// Campaigns against the simulated machine: each action of the helper is run
// once to count its Windows calls, then once for each call and each
// disturbance (another program's hostile step, an injected failure), with
// the disturbance right before that call. After each run the campaign
// checks what must hold whatever happened:
// - every sentinel file and the sentinel registry key are byte-identical;
// - the player's own files are all still there with their bytes (where a
//   disturbance may have moved them);
// - no handle is left open;
// - the run ended with status 0, 1 or 2 and a one-line message exactly when
//   it did not succeed;
// and then that clean reruns reach a fixed point (two equal outcomes in a
// row) within three runs, the same checks holding after the first and the
// last.
//
// The default run disturbs about 30 calls spread over each action;
// HELPER_FULL_CAMPAIGNS=1 disturbs every call.
#pragma once

#include "installer_context.h"
#include "legacy_installation.h"
#include "platform/simulated/machine.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace campaign {

inline const std::string installation(legacy_directory);
inline const std::string recovery = installation + "\\.quillmora-migration";
// A folder holding a file under every name the helper creates, replaces or
// deletes, and a registry key with a value: what no run may ever change.
inline const std::string victim = "C:\\Victim";
inline const std::string victim_key = player_key("Software\\Victim");
inline const std::string victim_link = "\\Registry\\User\\" + player_key("Software\\Victim");
inline const std::string setup_folder = "C:\\Setup";
inline const std::string context_file = setup_folder + "\\context.ini";
inline const std::string temp = legacy_context().temp;

// What an action ended with: its exit status and its line.
struct Ending {
    int status = 0;
    std::string message;
    friend bool operator==(const Ending&, const Ending&) = default;
};

struct Action {
    const char* name;
    std::function<void(sim::Machine&)> prepare;  // before any disturbance
    std::function<Ending()> run;
};

// begin on the older installation; commit after a begin; rollback after a
// begin and setup's changes; the context file's write; prepare-verification.
Action begin_action();
Action commit_action();
Action rollback_action();
Action context_file_action();
Action prepare_verification_action();

// Done right before the chosen call, named by its function: false when it
// did not take effect (Windows refused another program's step, or the call
// cannot fail that way).
struct Disturbance {
    std::string name;
    std::function<bool(sim::Machine&, std::string_view function)> apply;
};

struct Figures {
    int calls = 0;
    int disturbed = 0;  // runs with a disturbance that took effect
    int passed_over = 0;  // runs whose disturbance did not
    int checks = 0;
    std::vector<std::string> violations;
};

// The disturbances to try at a call of this function.
using DisturbancesAt = std::function<std::vector<Disturbance>(std::string_view function)>;

// With `settles_as_undisturbed`, the clean reruns must also end where
// reruns of an undisturbed run end: for disturbances that leave nothing
// behind, such as a failed call.
Figures run(const Action& action, const DisturbancesAt& disturbances_at,
            bool settles_as_undisturbed = false);
// The same disturbances at every call.
Figures run(const Action& action, const std::vector<Disturbance>& disturbances);

// One line, "[ campaign ] <kind>, <action>: ...", and a test failure for each
// of the first violations.
void report(std::string_view kind, const Action& action, const Figures& figures,
            std::string_view passed_over_as);

}  // namespace campaign
