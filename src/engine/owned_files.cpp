#include "engine/owned_files.h"

#include "platform/win_api.h"
#include "windows/entry_handle.h"
#include "windows/pinned_directory.h"
#include "windows/reparse_points.h"
#include "windows/system_error.h"

namespace installer_helper {
namespace {

constexpr const char* not_a_regular_file =
    "Expected an owned regular file; existing data was retained.";

Result<> cannot_remove_file(const IoError& error) {
    return fail(format_message("Cannot remove owned installer file: {}", error.text()));
}

// Refusals that name the file's state rather than a path that is not there.
bool refuses_deletion(const IoError& error) {
    return error.code == win::ERROR_SHARING_VIOLATION || error.code == win::ERROR_ACCESS_DENIED;
}

}  // namespace

// Everything happens through one handle to the entry itself: what was
// checked to be a regular file is what is deleted, whatever takes the name
// in the meantime.
Result<> remove_owned_file(std::string_view path) {
    auto file = EntryHandle::open(path, win::DELETE | win::FILE_WRITE_ATTRIBUTES);
    if (!file) {
        if (refuses_deletion(file.error())) return cannot_remove_file(file.error());
        return fail(file.error().text());
    }
    // The caller saw a regular file; anything that took its place since
    // stays where it is.
    if (file->kind() != PathKind::RegularFile) return fail(not_a_regular_file);
    if (auto writable = file->clear_read_only(); !writable) return fail(writable.error().text());

    const auto deleted = file->mark_for_deletion();
    if (deleted) return {};
    // Refused, as for a file made read-only again since: once more, with a
    // delete that ignores the attribute and takes the name away at once.
    if (deleted.error().code == win::ERROR_ACCESS_DENIED && file->mark_for_deletion_at_once())
        return {};
    return cannot_remove_file(deleted.error());
}

Result<> remove_owned_file_if_present(std::string_view path) {
    if (auto checked = ensure_no_reparse_points(path); !checked) return checked;
    const auto kind = inspect_path(path);
    if (!kind) return std::unexpected(kind.error());
    switch (*kind) {
        case PathKind::Missing:
            return {};
        case PathKind::RegularFile:
            return remove_owned_file(path);
        case PathKind::Directory:
        case PathKind::ReparsePoint:
            break;
    }
    return fail(not_a_regular_file);
}

Result<> remove_owned_file_if_present(const OwnedPath& path) {
    // A directory on the way was missing: nothing was there to delete.
    if (!path.reachable()) return {};
    return remove_owned_file_if_present(path.path());
}

Result<> remove_empty_directory(std::string_view path) {
    auto pinned = PinnedDirectory::pin_if_present(path, PinnedDirectory::Use::Removal);
    if (!pinned) return std::unexpected(pinned.error());
    if (!*pinned)
        return fail(format_message("Cannot remove empty owned directory: {}",
                                   system_error_text(win::ERROR_FILE_NOT_FOUND)));
    return std::move(**pinned).remove();
}

}  // namespace installer_helper
