// Decoding the installer context file, which every action but context reads
// first: as written (UTF-16LE) and as UTF-8.
#include "installer_context.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using installer_helper::InstallerContext;

InstallerContext typical_context() {
    const std::string profile = "C:\\Users\\player";
    return {.sid = "S-1-5-21-1004336348-1177238915-682003330-1001",
            .temp = profile + "\\AppData\\Local\\Temp",
            .desktop = profile + "\\Desktop",
            .programs = profile + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
            .local = profile + "\\AppData\\Local",
            .roaming = profile + "\\AppData\\Roaming",
            .directory = profile + "\\AppData\\Local\\Programs\\Quillmora Launcher",
            .legacy = true};
}

// The UTF-16LE bytes the writer gives turned into UTF-8 text of one
// byte per unit: every value here is ASCII.
std::string as_utf8(const std::string& utf16) {
    std::string text;
    for (std::size_t i = 2; i < utf16.size(); i += 2) text += utf16[i];
    return text;
}

void BM_DecodeContext(benchmark::State& state) {
    const std::string written = *installer_helper::encode_installer_context(typical_context());
    const std::string bytes = state.range(0) == 0 ? written : as_utf8(written);
    for (auto _ : state) {
        auto context = installer_helper::decode_installer_context(bytes);
        if (!context) state.SkipWithError("the context did not decode");
        benchmark::DoNotOptimize(context);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.SetLabel(state.range(0) == 0 ? "UTF-16LE" : "UTF-8");
}

BENCHMARK(BM_DecodeContext)->Arg(0)->Arg(1);

}  // namespace
