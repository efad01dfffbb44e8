#include "engine/owned_trees.h"

#include "engine/directory_listing.h"
#include "engine/owned_files.h"

#include "windows/pinned_directory.h"
#include "windows/reparse_points.h"
#include "windows/system_error.h"

#include <string>
#include <string_view>
#include <vector>

namespace installer_helper {
namespace {

constexpr const char* changed = "An owned directory changed during cleanup.";
constexpr const char* link_refused = "A junction or symbolic link cannot be modified by setup.";

PathKind kind_of(win::DWORD attributes) {
    if ((attributes & win::FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::ReparsePoint;
    if ((attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Directory;
    return PathKind::RegularFile;
}

// A file seen in a listing is removed only while it is still a regular
// file, checked through the handle that deletes it.
Result<> remove_listed_file(std::string_view path) {
    auto file = open_for_removal(path);
    if (!file) {
        if (file.error().code && means_path_missing(*file.error().code)) return fail(changed);
        return cannot_remove_file(file.error());
    }
    switch (file->kind()) {
        case PathKind::RegularFile: return remove_regular_file(*file);
        case PathKind::ReparsePoint: return fail(link_refused);
        case PathKind::Directory:
        case PathKind::Missing: break;
    }
    return fail(changed);
}

// A directory of a tree on its way out, pinned before it is read: what its
// listing says of each entry stays true of the name until the entry is
// removed through a handle of its own.
struct OpenDirectory {
    PinnedDirectory pin;
    DirectoryReader entries;
};

// The directories from the tree's root down to the one being read.
using OpenDirectories = std::vector<OpenDirectory>;

Result<> enter_directory(std::string_view path, OpenDirectories& open) {
    auto pin = PinnedDirectory::pin_if_present(path);
    if (!pin) return std::unexpected(pin.error());
    if (!*pin) return {};  // gone since it was seen
    auto entries = DirectoryReader::open(path);
    if (!entries) return std::unexpected(entries.error());
    open.push_back({std::move(**pin), std::move(*entries)});
    return {};
}

// Read to its end and emptied: the pin is let go just before the removal,
// which must ask for the DELETE access the pin denies everyone; what is
// removed then is again a plain directory at that name, checked through
// the removing handle.
Result<> leave_directory(OpenDirectories& open) {
    const std::string path = open.back().pin.path();
    open.pop_back();
    return remove_empty_directory(path);
}

Result<> remove_entry(const ListedEntry& entry, OpenDirectories& open) {
    switch (kind_of(entry.attributes)) {
        case PathKind::Directory: return enter_directory(entry.path, open);
        case PathKind::ReparsePoint: return fail(link_refused);
        case PathKind::RegularFile:
        case PathKind::Missing: break;
    }
    return remove_listed_file(entry.path);
}

// Post-order in one pass: each file goes as it is read, each directory once
// it has been read to the end. A loop rather than recursion, so that a deep
// tree cannot exhaust the stack.
Result<> remove_tree(std::string_view root, PathKind kind) {
    switch (kind) {
        case PathKind::Missing: return {};
        case PathKind::RegularFile: return remove_listed_file(root);
        case PathKind::ReparsePoint: return fail(link_refused);
        case PathKind::Directory: break;
    }
    OpenDirectories open;
    if (auto entered = enter_directory(root, open); !entered) return entered;
    while (!open.empty()) {
        const auto entry = open.back().entries.next();
        if (!entry) return std::unexpected(entry.error());
        const auto done = *entry ? remove_entry(**entry, open) : leave_directory(open);
        if (!done) return done;
    }
    return {};
}

Result<> remove_owned_tree(const MigrationTarget& target, std::string_view relative) {
    const auto root = owned_path(target, relative);
    if (!root) return std::unexpected(root.error());
    if (!root->reachable()) return {};  // its parent was missing, and so was the tree
    // The installation directory's ancestors were checked and are pinned
    // by the target, and the directories down to the root by the owned
    // path: walking up from the root again would prove nothing new, so only
    // the root itself is looked at, as that walk would look at it first.
    const auto kind = inspect_path(*root);
    if (!kind) return std::unexpected(kind.error());
    return remove_tree(*root, *kind);
}

}  // namespace

Result<> remove_owned_launcher_files(const MigrationTarget& target) {
    for (const std::string_view name : OWNED_FILES) {
        const auto path = owned_path(target, name);
        if (!path) return std::unexpected(path.error());
        if (auto removed = remove_owned_file_if_present(*path); !removed) return removed;
    }
    for (const std::string_view name : OWNED_DIRECTORIES) {
        if (auto removed = remove_owned_tree(target, name); !removed) return removed;
    }
    return {};
}

}  // namespace installer_helper
