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
constexpr const char* link_refused = "A junction or symbolic link cannot be modified by setup.";

// Refusals that name the file's state rather than a path that is not there.
bool refuses_deletion(const IoError& error) {
    return error.code == win::ERROR_SHARING_VIOLATION || error.code == win::ERROR_ACCESS_DENIED;
}

}  // namespace

Result<> cannot_remove_file(const IoError& error) {
    return fail(format_message("Cannot remove owned installer file: {}", error.text()));
}

// Everything happens through one handle to the entry itself: what was
// checked to be a regular file is what is deleted, whatever takes the name
// in the meantime.
Result<> remove_regular_file(EntryHandle& file) {
    if (auto writable = file.clear_read_only(); !writable)
        return fail(writable.error().text());
    const auto deleted = file.mark_for_deletion();
    if (deleted) return {};
    // Refused, as for a file made read-only again since: once more, with a
    // delete that ignores the attribute and takes the name away at once.
    if (deleted.error().code == win::ERROR_ACCESS_DENIED && file.mark_for_deletion_at_once())
        return {};
    return cannot_remove_file(deleted.error());
}

IoResult<EntryHandle> open_for_removal(std::string_view path) {
    return EntryHandle::open(path, win::DELETE | win::FILE_WRITE_ATTRIBUTES);
}

Result<> remove_owned_file(std::string_view path) {
    auto file = open_for_removal(path);
    if (!file) {
        if (refuses_deletion(file.error())) return cannot_remove_file(file.error());
        return fail(file.error().text());
    }
    // The caller saw a regular file; anything that took its place since
    // stays where it is.
    if (file->kind() != PathKind::RegularFile) return fail(not_a_regular_file);
    return remove_regular_file(*file);
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

// The directories above an owned path are pinned, so the entry is looked at
// once, through the handle that deletes it.
Result<> remove_owned_file_if_present(const OwnedPath& path) {
    // A directory on the way was missing: nothing was there to delete.
    if (!path.reachable()) return {};
    auto file = open_for_removal(path);
    if (!file) {
        const IoError& error = file.error();
        if (error.code && means_path_missing(*error.code)) return {};
        if (!refuses_deletion(error)) return fail(error.text());
        // Held by another program or not ours to delete: what is it?
        const auto kind = inspect_path(path);
        if (!kind) return std::unexpected(kind.error());
        if (*kind == PathKind::Missing) return {};
        if (*kind == PathKind::RegularFile) return cannot_remove_file(error);
        return fail(*kind == PathKind::ReparsePoint ? link_refused : not_a_regular_file);
    }
    switch (file->kind()) {
        case PathKind::RegularFile: return remove_regular_file(*file);
        case PathKind::ReparsePoint: return fail(link_refused);
        case PathKind::Directory:
        case PathKind::Missing: break;
    }
    return fail(not_a_regular_file);
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
