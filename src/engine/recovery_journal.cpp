#include "engine/recovery_journal.h"

#include "engine/directory_listing.h"
#include "engine/owned_files.h"
#include "engine/recovery_directory.h"
#include "engine/recovery_file_io.h"
#include "engine/recovery_files.h"
#include "windows/account.h"
#include "windows/installation_path.h"
#include "windows/registry/registration.h"
#include "windows/reparse_points.h"

#include <algorithm>
#include <set>

namespace installer_helper {
namespace {

constexpr const char* invalid_journal =
    "The migration recovery journal is invalid. Existing files were retained.";
constexpr const char* too_large = "Migration recovery journal exceeds the supported size.";
constexpr const char* damaged = "An unknown or damaged migration recovery directory exists.";

bool names_launcher_binaries_once(const std::vector<std::string>& binaries) {
    std::set<std::string_view> seen;
    return std::ranges::all_of(binaries, [&](const std::string& name) {
        return std::ranges::find(LAUNCHER_BINARIES, name) != LAUNCHER_BINARIES.end() &&
               seen.insert(name).second;
    });
}

// What a first journal write that was cut off stands for: the transaction
// had only begun, and nothing was recorded or backed up.
Journal torn_first_journal(const MigrationTarget& target) {
    Journal journal{.directory = target.directory(),
                    .stage = JournalStage::BackingUp,
                    .scope = target.context().scope,
                    .sid = target.context().sid,
                    .binaries = {},
                    .registration = {}};
    for (const std::string_view key : REGISTRATION_KEYS)
        journal.registration.push_back({std::string(key), false, {}});
    return journal;
}

enum class JournalFile { Current, LoneFirstWrite };

// A journal file as a checked journal. What the decoder objects to stays
// out of the message: setup only needs to know the journal is unusable.
//
// A lone "journal.new" can only be the transaction's first journal write:
// later journals are renamed only once flushed, and a removal deletes
// "journal.new" before "journal.json". One that does not decode was cut off
// while being written, before anything was backed up or changed, so it
// stands for a transaction at backing_up that holds nothing yet. One that
// decodes must still belong to this installation and user.
Result<Journal> parse_journal(const MigrationTarget& target, std::string_view path,
                              JournalFile file) {
    const auto bytes = read_journal_bytes(path);
    if (!bytes) return std::unexpected(bytes.error());
    auto journal = decode_journal(*bytes);
    if (!journal) {
        if (file == JournalFile::LoneFirstWrite) return torn_first_journal(target);
        return fail(invalid_journal);
    }
    if (auto valid = validate_journal(target, *journal); !valid)
        return std::unexpected(valid.error());
    return std::move(*journal);
}

// With no "journal.json", only a first journal that never got renamed may
// be there, and only alone.
Result<std::optional<Journal>> read_initial_journal(const MigrationTarget& target,
                                                    std::string_view directory) {
    const auto entries = list_directory(directory);
    if (!entries) return std::unexpected(entries.error());
    if (entries->empty()) return std::nullopt;
    const auto initial = recovery_file_path(target, "journal.new");
    if (!initial) return std::unexpected(initial.error());
    if (entries->size() != 1 || entries->front() != initial->path()) return fail(damaged);
    const auto kind = inspect_path(*initial);
    if (!kind) return std::unexpected(kind.error());
    if (*kind != PathKind::RegularFile) return fail(damaged);

    auto journal = parse_journal(target, *initial, JournalFile::LoneFirstWrite);
    if (!journal) return std::unexpected(journal.error());
    // Only the first write of a transaction can leave "journal.new" alone,
    // and that write is always at backing_up.
    if (journal->stage != JournalStage::BackingUp)
        return fail("An initial migration journal has an invalid recovery stage.");
    return std::move(*journal);
}

}  // namespace

Result<std::string> read_journal_bytes(std::string_view path) {
    const auto file = open_for_reading(path);
    if (!file) return fail(format_message("Cannot open recovery journal: {}", file.error().text()));
    // One byte past the limit tells a file at the limit from a longer one.
    constexpr std::size_t read_limit = MAX_JOURNAL_BYTES + 1;
    constexpr std::size_t chunk = 65'536;
    std::string bytes;
    while (bytes.size() < read_limit) {
        const std::size_t filled = bytes.size();
        bytes.resize(std::min(filled + chunk, read_limit));
        const auto read = read_some(*file, bytes.data() + filled, bytes.size() - filled);
        if (!read)
            return fail(format_message("Cannot read recovery journal: {}", read.error().text()));
        bytes.resize(filled + *read);
        if (*read == 0) break;
    }
    if (bytes.size() > MAX_JOURNAL_BYTES) return fail(too_large);
    return bytes;
}

Result<> validate_journal(const MigrationTarget& target, const Journal& journal) {
    const InstallerContext& context = target.context();
    if (journal.version != JOURNAL_VERSION ||
        !same_installation_path(journal.directory, target.directory()) ||
        journal.scope != context.scope || journal.sid != context.sid ||
        !is_canonical_sid_text(journal.sid) || !names_launcher_binaries_once(journal.binaries))
        return fail(invalid_journal);
    return validate_registration(journal.registration);
}

Result<std::optional<Journal>> read_recovery_state(const MigrationTarget& target) {
    const auto directory = owned_path(target, RECOVERY_DIRECTORY);
    if (!directory) return std::unexpected(directory.error());
    const auto kind = inspect_path(*directory);
    if (!kind) return std::unexpected(kind.error());
    switch (*kind) {
        case PathKind::Missing:
            return std::nullopt;
        case PathKind::RegularFile:
        case PathKind::ReparsePoint:
            return fail("Invalid migration recovery directory.");
        case PathKind::Directory:
            break;
    }

    const auto current = recovery_file_path(target, "journal.json");
    if (!current) return std::unexpected(current.error());
    const auto current_kind = inspect_path(*current);
    if (!current_kind) return std::unexpected(current_kind.error());
    switch (*current_kind) {
        case PathKind::RegularFile:
            // A "journal.new" beside it is a write that never finished; the
            // next write or removal deletes it.
            return parse_journal(target, *current, JournalFile::Current);
        case PathKind::Directory:
        case PathKind::ReparsePoint:
            return fail(damaged);
        case PathKind::Missing:
            break;
    }
    return read_initial_journal(target, *directory);
}

Result<> write_journal(const MigrationTarget& target, const Journal& journal) {
    if (auto valid = validate_journal(target, journal); !valid) return valid;
    const auto document = encode_journal(journal);
    if (!document) return std::unexpected(document.error());
    if (document->size() > MAX_JOURNAL_BYTES) return fail(too_large);

    const auto fresh = recovery_file_path(target, "journal.new");
    if (!fresh) return std::unexpected(fresh.error());
    if (auto removed = remove_owned_file_if_present(*fresh); !removed) return removed;
    {
        const auto file = create_new_file(*fresh);
        if (!file)
            return fail(format_message("Cannot create recovery journal: {}", file.error().text()));
        auto persisted = write_all(*file, *document);
        if (persisted) persisted = flush_to_disk(*file);
        if (!persisted)
            return fail(
                format_message("Cannot persist recovery journal: {}", persisted.error().text()));
    }  // closed before the rename: nothing of this run holds the new journal open

    const auto current = recovery_file_path(target, "journal.json");
    if (!current) return std::unexpected(current.error());
    return replace_recovery_file(*fresh, *current);
}

}  // namespace installer_helper
