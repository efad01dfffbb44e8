// The migration's recovery journal: the records a later run reads back to
// finish or undo an interrupted transaction, and their one JSON form.
#pragma once

#include "outcome.h"
#include "registry_scope.h"
#include "windows/registry/registry_snapshot.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installer_helper {

inline constexpr std::uint32_t JOURNAL_VERSION = 3;
// A journal document may be exactly this long, never longer.
inline constexpr std::size_t MAX_JOURNAL_BYTES = 8'388'608;

enum class JournalStage { BackingUp, Prepared, Committed, RolledBack };

inline constexpr std::array<std::string_view, 4> JOURNAL_STAGE_NAMES{"backing_up", "prepared",
                                                                     "committed", "rolled_back"};

inline std::string_view stage_text(JournalStage stage) {
    return JOURNAL_STAGE_NAMES[static_cast<std::size_t>(stage)];
}

inline std::optional<JournalStage> stage_from_text(std::string_view text) {
    for (std::size_t i = 0; i < JOURNAL_STAGE_NAMES.size(); ++i)
        if (JOURNAL_STAGE_NAMES[i] == text) return static_cast<JournalStage>(i);
    return std::nullopt;
}

struct Journal {
    std::uint32_t version = JOURNAL_VERSION;
    std::string directory;  // WTF-8: a Windows path may hold an unpaired surrogate
    JournalStage stage = JournalStage::BackingUp;
    RegistryScope scope = RegistryScope::User;
    std::string sid;
    std::vector<std::string> binaries;
    std::vector<RegistrySnapshot> registration;
    friend bool operator==(const Journal&, const Journal&) = default;
};

// The compact document, byte for byte the same for equal journals. Fails
// when a text is not valid Unicode, since the document could not be read
// back.
Result<std::string> encode_journal(const Journal& journal);

// The journal a document describes, or nothing for any document outside
// the strict set the writer's format allows. The caller words the failure.
std::optional<Journal> decode_journal(std::string_view bytes);

}  // namespace installer_helper
