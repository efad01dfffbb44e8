// Directories held so that no one can swap them for a junction while the
// helper works inside them. A pinned directory was opened as itself (a
// reparse point is never followed), checked through its handle to be a
// plain directory, and is held with read access, sharing read and write
// but not delete: while the pin lasts, Windows refuses anyone else the
// DELETE access that renaming or deleting it needs, so every name that
// runs through pinned directories reaches the entries that were checked.
// Sharing write keeps renames into the directory possible: a rename opens
// the destination's directory for writing. Read access is what makes the
// share mode count: an opening without read, write or delete access
// imposes its share mode on no one.
#pragma once

#include "outcome.h"
#include "windows/entry_handle.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installer_helper {

class PinnedDirectory {
public:
    // Whether the helper itself may delete the directory through the pin;
    // a pin for removal also asks for DELETE access.
    enum class Use { Work, Removal };
    static Result<PinnedDirectory> pin(std::string_view path, Use use = Use::Work);
    // The same, with nothing for a path that does not exist.
    static Result<std::optional<PinnedDirectory>> pin_if_present(std::string_view path,
                                                                 Use use = Use::Work);


    const std::string& path() const { return path_; }
    win::HANDLE handle() const { return handle_.get(); }

    // Deletes the directory, which must be empty, through the pin taken for
    // removal; the name goes with the pin.
    Result<> remove() &&;

private:
    friend class PinnedPath;
    // Nothing, with the open's error in `missing`, for a path that is not there.
    static Result<std::optional<PinnedDirectory>> pin_found(std::string_view path, Use use,
                                                            win::DWORD& missing);
    PinnedDirectory(EntryHandle handle, std::string path)
        : handle_(std::move(handle)), path_(std::move(path)) {}

    EntryHandle handle_;
    std::string path_;
};

// A row of pinned directories, each inside the one before it. Pinning
// stops at the first directory that does not exist: nothing below it can
// be reached through pinned directories, since it could appear as anything
// afterwards.
class PinnedPath {
public:
    PinnedPath() = default;
    // `directory` and every directory above it, from its root down.
    static Result<PinnedPath> from_root(std::string_view directory);
    // Each directory strictly below `base` down to and including `directory`.
    static Result<PinnedPath> below(std::string_view base, std::string_view directory);

    bool complete() const { return !missing_error_; }
    // The innermost directory pinned; the path must have pinned one.
    const PinnedDirectory& innermost() const { return pins_.back(); }
    // Why the first missing directory could not be opened: a path that runs
    // through it cannot be reached, as ERROR_PATH_NOT_FOUND says.
    win::DWORD missing_error() const { return missing_error_.value_or(0); }

private:
    Result<> pin_each(std::vector<std::string> directories);

    std::vector<PinnedDirectory> pins_;
    std::optional<win::DWORD> missing_error_;
};

}  // namespace installer_helper
