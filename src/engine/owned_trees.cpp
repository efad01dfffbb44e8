#include "engine/owned_trees.h"

#include "engine/directory_listing.h"
#include "engine/owned_files.h"

#include <iterator>

namespace installer_helper {
namespace {

// An entry is removed only while it is still what was collected. A
// directory's pin is let go just before its removal, which must ask for
// the DELETE access the pin denies everyone; what is removed then is again
// a plain directory at that name, checked through the removing handle.
Result<> remove_collected_entry(TreeEntry& entry) {
    if (auto checked = ensure_no_reparse_points(entry.path); !checked) return checked;
    const auto kind = inspect_path(entry.path);
    if (!kind) return std::unexpected(kind.error());
    if (*kind != entry.kind) return fail("An owned directory changed during cleanup.");
    if (entry.kind != PathKind::Directory) return remove_owned_file(entry.path);
    entry.pin.reset();
    return remove_empty_directory(entry.path);
}

Result<> remove_owned_tree(const MigrationTarget& target, std::string_view relative) {
    const auto root = owned_path(target, relative);
    if (!root) return std::unexpected(root.error());
    if (!root->reachable()) return {};  // its parent was missing, and so was the tree
    std::vector<TreeEntry> tree;
    if (auto collected = collect_tree(*root, tree); !collected) return collected;
    // Backwards through the pre-order: everything inside a directory goes
    // before the directory itself.
    for (auto entry = tree.rbegin(); entry != tree.rend(); ++entry) {
        if (auto removed = remove_collected_entry(*entry); !removed) return removed;
    }
    return {};
}

}  // namespace

Result<> collect_tree(std::string_view path, std::vector<TreeEntry>& entries) {
    // Paths still to visit, the next one last. A loop rather than recursion,
    // so that a deep tree cannot exhaust the stack; children are pushed in
    // reverse so that they are visited in listing order.
    std::vector<std::string> pending{std::string(path)};
    while (!pending.empty()) {
        std::string current = std::move(pending.back());
        pending.pop_back();
        if (auto checked = ensure_no_reparse_points(current); !checked) return checked;
        const auto kind = inspect_path(current);
        if (!kind) return std::unexpected(kind.error());
        switch (*kind) {
            case PathKind::Missing:
                break;
            case PathKind::RegularFile:
                entries.push_back({std::move(current), PathKind::RegularFile, std::nullopt});
                break;
            case PathKind::ReparsePoint:
                // Only when the entry became one after the check above.
                return fail("Refusing to traverse a junction, symbolic link, or unsupported file.");
            case PathKind::Directory: {
                // Pinned before it is listed: what is listed is what stays.
                auto pin = PinnedDirectory::pin_if_present(current);
                if (!pin) return std::unexpected(pin.error());
                if (!*pin) break;  // gone since it was inspected
                entries.push_back({current, PathKind::Directory, std::move(*pin)});
                auto children = list_directory(current);
                if (!children) return std::unexpected(children.error());
                pending.insert(pending.end(), std::make_move_iterator(children->rbegin()),
                               std::make_move_iterator(children->rend()));
                break;
            }
        }
    }
    return {};
}

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
