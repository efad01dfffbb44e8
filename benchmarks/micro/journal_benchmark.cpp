// The journal's writer and strict reader against nlohmann/json's plain
// parse of the same bytes (a DOM, no checks): the reader does more, so it
// should still keep at least half that throughput.
#include "engine/journal.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace {

using installer_helper::Journal;
using installer_helper::JournalStage;
using installer_helper::RegistrySnapshot;
using installer_helper::RegistryValue;

std::vector<std::uint8_t> utf16z(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    for (const char c : text) bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), 0});
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// What begin records for a launcher installed per user: a few strings and
// numbers in the two keys.
Journal typical_journal() {
    const std::string location = "C:\\Users\\player\\AppData\\Local\\Programs\\Quillmora Launcher";
    Journal journal;
    journal.directory = location;
    journal.stage = JournalStage::Prepared;
    journal.sid = "S-1-5-21-1004336348-1177238915-682003330-1001";
    journal.binaries = {"Quillmora Launcher.exe", "QuillmoraClientServices.exe", "uninstall.exe"};
    journal.registration = {
        {"Software\\Quillmora\\Quillmora Launcher", true,
         {{"", 1, utf16z(location)},
          {"Channel", 2, utf16z("%LOCALAPPDATA%\\Quillmora\\stable")},
          {"Installed", 4, {1, 0, 0, 0}},
          {"Version", 1, utf16z("1.8.2")}}},
        {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmora Launcher", true,
         {{"DisplayName", 1, utf16z("Quillmora Launcher")},
          {"InstallLocation", 1, utf16z(location)},
          {"UninstallString", 1, utf16z("\"" + location + "\\uninstall.exe\"")}}},
    };
    return journal;
}

// The largest journal a capture can give: 1,048,576 bytes of value data,
// all in one binary value of varied bytes (one to three digits each).
Journal journal_at_limit() {
    Journal journal = typical_journal();
    std::size_t used = 0;
    for (const RegistrySnapshot& snapshot : journal.registration)
        for (const RegistryValue& value : snapshot.values) used += value.data.size();
    RegistryValue blob{"Blob", 3, {}};
    blob.data.resize(1'048'576 - used);
    for (std::size_t i = 0; i < blob.data.size(); ++i)
        blob.data[i] = static_cast<std::uint8_t>(i * 131 + 7);
    journal.registration[0].values.push_back(std::move(blob));
    return journal;
}

Journal journal_of(std::int64_t which) {
    return which == 0 ? typical_journal() : journal_at_limit();
}

const char* label_of(std::int64_t which) { return which == 0 ? "typical" : "at limit"; }

void set_throughput(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.SetLabel(std::string(label_of(state.range(0))) + ", " + std::to_string(bytes) +
                   " bytes");
}

void BM_EncodeJournal(benchmark::State& state) {
    const Journal journal = journal_of(state.range(0));
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto document = installer_helper::encode_journal(journal);
        bytes = document->size();
        benchmark::DoNotOptimize(document);
    }
    set_throughput(state, bytes);
}

void BM_DecodeJournal(benchmark::State& state) {
    const std::string document = *installer_helper::encode_journal(journal_of(state.range(0)));
    for (auto _ : state) {
        auto journal = installer_helper::decode_journal(document);
        if (!journal) state.SkipWithError("the document did not decode");
        benchmark::DoNotOptimize(journal);
    }
    set_throughput(state, document.size());
}

void BM_NlohmannParse(benchmark::State& state) {
    const std::string document = *installer_helper::encode_journal(journal_of(state.range(0)));
    for (auto _ : state) {
        auto tree = nlohmann::json::parse(document);
        benchmark::DoNotOptimize(tree);
    }
    set_throughput(state, document.size());
}

BENCHMARK(BM_EncodeJournal)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeJournal)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NlohmannParse)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
