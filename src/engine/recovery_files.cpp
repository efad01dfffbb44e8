#include "engine/recovery_files.h"

#include "engine/recovery_file_io.h"
#include "windows/entry_handle.h"
#include "windows/installation_path.h"
#include "windows/system_error.h"

#include <array>

namespace installer_helper {
namespace {

constexpr std::size_t copy_buffer_bytes = 8'192;

Result<> persist_failure(const IoError& error) {
    return fail(format_message("Cannot persist recovery file: {}", error.text()));
}

}  // namespace

Result<> copy_recovery_file(std::string_view source, std::string_view destination) {
    const auto from = open_for_reading(source);
    if (!from) return fail(format_message("Cannot read recovery file: {}", from.error().text()));
    const auto to = create_new_file(destination);
    if (!to) return fail(format_message("Cannot create recovery file: {}", to.error().text()));

    std::array<char, copy_buffer_bytes> buffer;
    while (true) {
        const auto read = read_some(*from, buffer.data(), buffer.size());
        if (!read) return persist_failure(read.error());
        if (*read == 0) break;
        if (auto written = write_all(*to, {buffer.data(), *read}); !written)
            return persist_failure(written.error());
    }
    if (auto flushed = flush_to_disk(*to); !flushed) return persist_failure(flushed.error());
    return {};
}

namespace {

constexpr const char* cannot_replace = "Cannot atomically replace recovery file: {}";

// Windows refuses to replace a read-only file, which would make every
// later replace fail the same way. What is promised is the bytes, not the
// attributes of the file being replaced, so a read-only file there is made
// writable first, through a handle to the file itself.
IoResult<> make_replaceable(std::string_view destination) {
    auto existing = EntryHandle::open(destination, win::FILE_WRITE_ATTRIBUTES);
    if (!existing) {
        if (existing.error().code && means_path_missing(*existing.error().code)) return {};
        return std::unexpected(existing.error());
    }
    // Anything else under the name is left for the move to refuse.
    if (existing->kind() != PathKind::RegularFile) return {};
    return existing->clear_read_only();
}

}  // namespace

Result<> replace_recovery_file(std::string_view source, std::string_view destination) {
    const auto from = to_wide_nul(source);
    if (!from) return fail(format_message(cannot_replace, from.error().message()));
    const auto to = to_wide_nul(destination);
    if (!to) return fail(format_message(cannot_replace, to.error().message()));
    if (auto replaceable = make_replaceable(destination); !replaceable)
        return fail(format_message(cannot_replace, replaceable.error().text()));
    if (win::MoveFileExW(from->c_str(), to->c_str(),
                         win::MOVEFILE_REPLACE_EXISTING | win::MOVEFILE_WRITE_THROUGH))
        return {};
    return fail(format_message(cannot_replace, system_error_text(win::GetLastError())));
}

}  // namespace installer_helper
