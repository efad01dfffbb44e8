// The recovery directory of the migration test installation, and journals
// that this installation accepts.
#pragma once

#include "engine/journal.h"
#include "migration_scenario.h"

#include <string>
#include <string_view>
#include <vector>

inline const std::string recovery_directory = installed(".quillmora-migration");

inline std::string recovery_file(std::string_view name) {
    return recovery_directory + "\\" + std::string(name);
}

// A journal of the test installation and user, with both registry keys
// recorded as absent.
inline installer_helper::Journal recovery_journal(
    installer_helper::JournalStage stage = installer_helper::JournalStage::BackingUp,
    std::vector<std::string> binaries = {}) {
    installer_helper::Journal journal;
    journal.directory = migration_directory;
    journal.stage = stage;
    journal.sid = migration_sid;
    journal.binaries = std::move(binaries);
    journal.registration = {
        {"Software\\Quillmora\\Quillmora Launcher", false, {}},
        {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmora Launcher", false, {}},
    };
    return journal;
}

inline std::string journal_document(const installer_helper::Journal& journal) {
    return installer_helper::encode_journal(journal).value();
}

// What reading the recovery state found: "none", "stage <name>", or the
// error's message.
template <typename Found>
std::string found_state(const installer_helper::Result<Found>& found) {
    if (!found) return found.error().message();
    if (!found->has_value()) return "none";
    return "stage " + std::string(installer_helper::stage_text((*found)->stage));
}
