// call_census: which Windows calls begin and commit make, and how many, on
// the simulated machine's older installation (tests/support). Under Wine
// each kind of call has its own price (/work notes on Wine's costs and
// BENCHMARKS.md), so the census says where a run's fixed time goes.
//
//   call_census
#include "engine/begin.h"
#include "engine/commit.h"
#include "legacy_installation.h"
#include "platform/simulated/machine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using Census = std::map<std::string, int, std::less<>>;

void print(const char* what, const Census& census) {
    std::vector<std::pair<std::string, int>> rows(census.begin(), census.end());
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    int total = 0;
    for (const auto& row : rows) total += row.second;
    std::printf("%s: %d calls\n", what, total);
    for (const auto& [function, count] : rows) std::printf("  %6d  %s\n", count, function.c_str());
}

// The calls of a run by function, then the paths the file calls named.
template <typename Run>
std::pair<Census, Census> census_of(sim::Machine& machine, Run run) {
    Census census;
    machine.faults.before_each_call([&](std::string_view function) {
        ++census[std::string(function)];
    });
    machine.faults.record({"CreateFileW", "FindFirstFileExW", "MoveFileExW", "CreateDirectoryW"});
    const std::size_t recorded_before = machine.faults.recorded().size();
    run();
    Census paths;
    const auto& recorded = machine.faults.recorded();
    for (std::size_t i = recorded_before; i < recorded.size(); ++i) ++paths[recorded[i]];
    machine.faults.clear();
    machine.faults.record({});
    return {census, paths};
}

void print(const char* what, const std::pair<Census, Census>& census) {
    print(what, census.first);
    print("  by path", census.second);
}

}  // namespace

int main() {
    sim::Machine machine;
    const sim::ScopedMachine installed(machine);
    install_legacy(machine);
    const auto context = legacy_context();
    print("begin", census_of(machine, [&] {
        if (!installer_helper::begin_migration(legacy_directory, context)) std::exit(1);
    }));
    print("commit", census_of(machine, [&] {
        if (!installer_helper::commit_migration(legacy_directory, context)) std::exit(1);
    }));
    return 0;
}
