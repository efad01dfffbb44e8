// Normalising and comparing installation paths. The comparison ends in
// CompareStringOrdinal, here the simulated Windows' own.
#include "platform/simulated/machine.h"
#include "windows/installation_path.h"

#include <benchmark/benchmark.h>

namespace {

constexpr const char* plain = "C:\\Users\\player\\AppData\\Local\\Programs\\Quillmora Launcher";
constexpr const char* untidy =
    "c:/Users//player/./AppData/Local/Temp/../Programs/Quillmora Launcher/";

void BM_NormalizePath(benchmark::State& state) {
    const char* path = state.range(0) == 0 ? plain : untidy;
    for (auto _ : state) {
        auto normalised = installer_helper::normalize_installation_path(path);
        benchmark::DoNotOptimize(normalised);
    }
    state.SetLabel(state.range(0) == 0 ? "normalised already" : "separators, dots, case");
}

void BM_SameInstallationPath(benchmark::State& state) {
    sim::Machine machine;
    const sim::ScopedMachine installed(machine);
    for (auto _ : state)
        benchmark::DoNotOptimize(installer_helper::same_installation_path(plain, untidy));
}

BENCHMARK(BM_NormalizePath)->Arg(0)->Arg(1);
BENCHMARK(BM_SameInstallationPath);

}  // namespace
