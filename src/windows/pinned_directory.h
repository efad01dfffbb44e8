// Directories held so that no one can swap them for a junction while the
// helper works inside them. A pinned directory was opened as itself (a
// reparse point is never followed), checked through its handle to be a
// plain directory, and is held with read access, sharing read and write
// but not delete: while the pin lasts, Windows refuses anyone else the
// DELETE access that renaming or deleting it needs, so every name that
// runs through pinned directories reaches the entries that were checked.
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
    PinnedDirectory(EntryHandle handle, std::string path)
        : handle_(std::move(handle)), path_(std::move(path)) {}

    EntryHandle handle_;
    std::string path_;
};

// A row of pinned directories, each inside the one before it.
class PinnedPath {
public:
    PinnedPath() = default;
    // `directory` and every directory above it, up to and including its root.
    static Result<PinnedPath> from_root(std::string_view directory);
    // Each directory strictly below `base` down to and including `directory`.
    // Stops at the first one that does not exist: then complete() is false,
    // and nothing below that point can be reached through pinned directories.
    static Result<PinnedPath> below(std::string_view base, std::string_view directory);

    bool complete() const { return complete_; }

private:
    std::vector<PinnedDirectory> pins_;
    bool complete_ = true;
};

}  // namespace installer_helper
