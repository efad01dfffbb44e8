#include "engine/owned_trees.h"

#include "engine/directory_listing.h"
#include "engine/owned_files.h"

#include "windows/system_error.h"

#include <utility>

namespace installer_helper {
namespace {

constexpr const char* changed = "An owned directory changed during cleanup.";
constexpr const char* link_refused = "A junction or symbolic link cannot be modified by setup.";

PathKind kind_of(win::DWORD attributes) {
    if ((attributes & win::FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::ReparsePoint;
    if ((attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Directory;
    return PathKind::RegularFile;
}

// A collected file is removed only while it is still a regular file,
// checked through the handle that deletes it.
Result<> remove_collected_file(std::string_view path) {
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

// A directory's pin is let go just before its removal, which must ask for
// the DELETE access the pin denies everyone; what is removed then is again
// a plain directory at that name, checked through the removing handle.
Result<> remove_collected_entry(TreeEntry& entry) {
    if (entry.kind != PathKind::Directory) return remove_collected_file(entry.path);
    entry.pin.reset();
    return remove_empty_directory(entry.path);
}

// Below the root, every directory is pinned before it is listed, so what
// its listing says of each entry stays true of the name until the entry is
// removed through a handle of its own.
Result<> collect_below(std::string_view path, PathKind root, std::vector<TreeEntry>& entries) {
    // Entries still to visit, the next one last. A loop rather than
    // recursion, so that a deep tree cannot exhaust the stack; children are
    // pushed in reverse so that they are visited in listing order.
    std::vector<std::pair<std::string, PathKind>> pending{{std::string(path), root}};
    while (!pending.empty()) {
        auto [current, kind] = std::move(pending.back());
        pending.pop_back();
        switch (kind) {
            case PathKind::Missing:
                break;
            case PathKind::RegularFile:
                entries.push_back({std::move(current), PathKind::RegularFile, std::nullopt});
                break;
            case PathKind::ReparsePoint:
                return fail(link_refused);
            case PathKind::Directory: {
                // Pinned before it is listed: what is listed is what stays.
                auto pin = PinnedDirectory::pin_if_present(current);
                if (!pin) return std::unexpected(pin.error());
                if (!*pin) break;  // gone since it was seen
                auto children = list_directory_entries(current);
                if (!children) return std::unexpected(children.error());
                entries.push_back({std::move(current), PathKind::Directory, std::move(*pin)});
                for (auto child = children->rbegin(); child != children->rend(); ++child)
                    pending.emplace_back(std::move(child->path), kind_of(child->attributes));
                break;
            }
        }
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
    if (*kind == PathKind::ReparsePoint) return fail(link_refused);
    std::vector<TreeEntry> tree;
    if (auto collected = collect_below(*root, *kind, tree); !collected) return collected;
    // Backwards through the pre-order: everything inside a directory goes
    // before the directory itself.
    for (auto entry = tree.rbegin(); entry != tree.rend(); ++entry) {
        if (auto removed = remove_collected_entry(*entry); !removed) return removed;
    }
    return {};
}

}  // namespace

// The root is checked all the way up first.
Result<> collect_tree(std::string_view path, std::vector<TreeEntry>& entries) {
    if (auto checked = ensure_no_reparse_points(path); !checked) return checked;
    const auto root = inspect_path(path);
    if (!root) return std::unexpected(root.error());
    if (*root == PathKind::ReparsePoint)  // only when it became one since the check
        return fail("Refusing to traverse a junction, symbolic link, or unsupported file.");
    return collect_below(path, *root, entries);
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
