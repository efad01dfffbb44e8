// The machines the crash campaign starts from: an older installation of
// some layout, a registration in some state, and what an earlier run left
// behind. Each scenario combines one of each, and together they cover every
// kind at least once.
#pragma once

#include "legacy_installation.h"
#include "platform/simulated/machine.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

enum class Binaries { all, client_services_only, none };
enum class Registration { full, launcher_key_only, none };
// What an earlier run left: nothing; a begin cut off while backing up; a
// finished begin with setup's changes after it; a commit cut off right after
// it wrote "committed"; a finished restore cut off before its cleanup; a
// journal rewrite cut off before its rename, or a restore cut off while
// copying, beside a prepared journal; a first journal write torn by a power
// loss.
enum class Leftover {
    none,
    backing_up,
    prepared,
    committed,
    rolled_back,
    prepared_with_journal_new,
    prepared_with_restore_new,
    torn_first_journal,
};

struct Scenario {
    const char* name;
    Binaries binaries = Binaries::all;
    std::optional<std::size_t> binary_bytes = std::nullopt;  // each binary's size; short texts when absent
    bool read_only = false;                   // owned files and binaries
    Registration registration = Registration::full;
    bool legacy_here = true;  // the older registration names this installation
    Leftover leftover = Leftover::none;
};

const std::vector<Scenario>& crash_scenarios();

// Lays the scenario out and makes all of it durable.
void lay_out(sim::Machine& machine, const Scenario& scenario);

// What setup does between begin and its decision: the launcher replaced,
// uninstall.exe deleted, Client Services added where it was missing, and
// the registration changed.
void make_setup_changes(sim::Machine& machine);

// The state after a finished commit of `state`: the owned files and trees
// gone, and the older registration gone when it named this installation.
MachineState committed(const MachineState& state, bool legacy_here);
