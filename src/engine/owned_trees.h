// Taking down the older installation's owned files and directory trees.
#pragma once

#include "engine/owned_paths.h"
#include "outcome.h"
#include "windows/pinned_directory.h"
#include "windows/reparse_points.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installer_helper {

// One entry of a collected tree: only RegularFile or Directory occur. A
// directory stays pinned from its collection until its own removal, so the
// tree below it cannot be redirected in between.
struct TreeEntry {
    std::string path;
    PathKind kind = PathKind::Missing;
    std::optional<PinnedDirectory> pin;  // for a directory
};

// Appends the tree at `path` in pre-order, each directory before its
// contents, children in listing order. An absent path adds nothing; a
// junction or symbolic link anywhere stops the collection.
Result<> collect_tree(std::string_view path, std::vector<TreeEntry>& entries);

// Deletes the owned files, then each owned directory tree from its deepest
// entries up, every entry checked again right before it goes. Entries
// already gone are skipped, so an interrupted cleanup can run again.
Result<> remove_owned_launcher_files(const MigrationTarget& target);

}  // namespace installer_helper
