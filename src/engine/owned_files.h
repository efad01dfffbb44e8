// The only ways the migration deletes a single file or directory. Callers
// build paths with owned_path and check them right before calling these.
#pragma once

#include "engine/owned_paths.h"
#include "outcome.h"
#include "windows/entry_handle.h"

#include <string_view>

namespace installer_helper {

// Deletes a regular file, read-only or not, through a handle that is
// checked to be a regular file first. A file that Windows refuses to delete
// is tried once more with a delete that ignores the read-only attribute and
// removes the name at once.
Result<> remove_owned_file(std::string_view path);

// Deletes the file if it is there; an absent path is success, and a
// directory or reparse point under the name is left where it is.
Result<> remove_owned_file_if_present(std::string_view path);
// The same for an owned path, which is absent when a directory on its way
// was.
Result<> remove_owned_file_if_present(const OwnedPath& path);

// The entry at `path` itself, opened for its deletion.
IoResult<EntryHandle> open_for_removal(std::string_view path);
// Deletes the regular file behind the handle, read-only or not.
Result<> remove_regular_file(EntryHandle& file);
// "Cannot remove owned installer file: {}" with the error.
Result<> cannot_remove_file(const IoError& error);

// Removes a directory that must already be empty, through a handle to the
// directory itself.
Result<> remove_empty_directory(std::string_view path);

}  // namespace installer_helper
