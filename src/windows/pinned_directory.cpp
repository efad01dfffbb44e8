#include "windows/pinned_directory.h"

#include "message_format.h"
#include "windows/system_error.h"

namespace installer_helper {
namespace {

constexpr win::DWORD ERROR_DIRECTORY = 267;

HelperError inspection_error(const IoError& error) {
    return HelperError(format_message("Cannot inspect installer path: {}", error.text()));
}

}  // namespace

Result<std::optional<PinnedDirectory>> PinnedDirectory::pin_found(std::string_view path, Use use,
                                                                  win::DWORD& missing) {
    const win::DWORD access = win::GENERIC_READ | (use == Use::Removal ? win::DELETE : 0);
    auto handle = EntryHandle::open(path, access, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE);
    if (!handle) {
        if (handle.error().code && means_path_missing(*handle.error().code)) {
            missing = *handle.error().code;
            return std::optional<PinnedDirectory>();
        }
        // A pin for removal serves only the removal of an owned directory.
        if (use == Use::Removal)
            return fail(format_message("Cannot remove empty owned directory: {}",
                                       handle.error().text()));
        return std::unexpected(inspection_error(handle.error()));
    }
    switch (handle->kind()) {
        case PathKind::Directory:
            return std::optional(PinnedDirectory(std::move(*handle), std::string(path)));
        case PathKind::ReparsePoint:
            return fail("A junction or symbolic link cannot be modified by setup.");
        case PathKind::RegularFile:
        case PathKind::Missing:
            break;
    }
    return std::unexpected(inspection_error(IoError{ERROR_DIRECTORY, {}}));
}

Result<std::optional<PinnedDirectory>> PinnedDirectory::pin_if_present(std::string_view path,
                                                                      Use use) {
    win::DWORD missing = 0;
    return pin_found(path, use, missing);
}

Result<PinnedDirectory> PinnedDirectory::pin(std::string_view path, Use use) {
    win::DWORD missing = 0;
    auto pinned = pin_found(path, use, missing);
    if (!pinned) return std::unexpected(pinned.error());
    if (!*pinned) return std::unexpected(inspection_error(IoError{missing, {}}));
    return std::move(**pinned);
}

Result<> PinnedDirectory::remove() && {
    // Closed on the way out: the name goes with the last handle.
    const EntryHandle closing = std::move(handle_);
    const auto removed = closing.mark_for_deletion();
    if (!removed)
        return fail(
            format_message("Cannot remove empty owned directory: {}", removed.error().text()));
    return {};
}

Result<> PinnedPath::pin_each(std::vector<std::string> directories) {
    for (const std::string& each : directories) {
        win::DWORD missing = 0;
        auto pin = PinnedDirectory::pin_found(each, PinnedDirectory::Use::Work, missing);
        if (!pin) return std::unexpected(pin.error());
        if (!*pin) {
            // A missing last component reads "file not found"; for what lies
            // below it, the path is not there.
            missing_error_ =
                missing == win::ERROR_FILE_NOT_FOUND ? win::ERROR_PATH_NOT_FOUND : missing;
            return {};
        }
        pins_.push_back(std::move(**pin));
    }
    return {};
}

Result<PinnedPath> PinnedPath::from_root(std::string_view directory) {
    PinnedPath pinned;
    if (auto pinning = pinned.pin_each(directories_from_root(directory)); !pinning)
        return std::unexpected(pinning.error());
    return pinned;
}

Result<PinnedPath> PinnedPath::below(std::string_view base, std::string_view directory) {
    std::vector<std::string> directories;
    std::size_t end = base.size();
    while (end < directory.size()) {
        end = directory.find('\\', end + 1);
        if (end == std::string_view::npos) end = directory.size();
        directories.emplace_back(directory.substr(0, end));
    }
    PinnedPath pinned;
    if (auto pinning = pinned.pin_each(std::move(directories)); !pinning)
        return std::unexpected(pinning.error());
    return pinned;
}

}  // namespace installer_helper
