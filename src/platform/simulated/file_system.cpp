#include "platform/simulated/file_system.h"

#include "platform/simulated/case_mapping.h"
#include "text_encoding.h"

#include <stdexcept>

namespace sim {
namespace {

using installer_helper::utf16_from_wtf8;
using installer_helper::wtf8_from_utf16;

constexpr int link_depth_limit = 31;

bool is_separator(char16_t unit) { return unit == u'\\' || unit == u'/'; }
bool is_letter(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z');
}

bool is_invalid_name_character(char16_t unit) {
    return unit < 0x20 || unit == u'<' || unit == u'>' || unit == u':' || unit == u'"' ||
           unit == u'|' || unit == u'?' || unit == u'*';
}

struct ParsedPath {
    char16_t drive = 0;
    std::vector<std::u16string> components;
    DWORD error = 0;
};

// Turns a Win32 path into a drive and components the way the Windows path
// layer does: both slashes separate, "." and ".." are resolved, trailing dots
// and spaces are dropped. Verbatim paths (\\?\) are taken literally.
ParsedPath parse_path(std::u16string_view path, std::u16string_view current_directory) {
    ParsedPath parsed;
    bool verbatim = false;
    if (path.starts_with(u"\\\\?\\") || path.starts_with(u"\\\\.\\")) {
        verbatim = path[2] == u'?';
        path.remove_prefix(4);
        if (path.size() < 2 || !is_letter(path[0]) || path[1] != u':' ||
            (path.size() > 2 && path[2] != u'\\')) {
            parsed.error = win::ERROR_PATH_NOT_FOUND;
            return parsed;
        }
    } else if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
        parsed.error = win::ERROR_BAD_NETPATH;  // no network shares in this model
        return parsed;
    }

    std::u16string full;
    if (path.size() >= 2 && is_letter(path[0]) && path[1] == u':') {
        if (path.size() >= 3 && is_separator(path[2])) {
            full = std::u16string(path);
        } else {
            full = std::u16string(path.substr(0, 2)) + u"\\" + std::u16string(path.substr(2));
        }
    } else if (!path.empty() && is_separator(path[0])) {
        full = std::u16string(current_directory.substr(0, 2)) + std::u16string(path);
    } else {
        full = std::u16string(current_directory) + u"\\" + std::u16string(path);
    }

    parsed.drive = upper_case(full[0]);
    std::u16string piece;
    auto take_piece = [&] {
        if (!verbatim) {
            if (piece.empty() || piece == u".") {
                piece.clear();
                return;
            }
            if (piece == u"..") {
                if (!parsed.components.empty()) parsed.components.pop_back();
                piece.clear();
                return;
            }
            while (!piece.empty() && (piece.back() == u'.' || piece.back() == u' ')) piece.pop_back();
            if (piece.empty()) return;
        } else if (piece.empty()) {
            return;
        }
        parsed.components.push_back(piece);
        piece.clear();
    };
    for (std::size_t i = 3; i < full.size(); ++i) {
        const bool separator = verbatim ? full[i] == u'\\' : is_separator(full[i]);
        if (separator) {
            take_piece();
        } else {
            piece.push_back(full[i]);
        }
    }
    take_piece();
    return parsed;
}

std::u16string to_u16(std::string_view text) { return utf16_from_wtf8(text); }

}  // namespace

bool matches_pattern(std::u16string_view pattern, std::u16string_view name) {
    if (pattern == u"*" || pattern == u"*.*") return true;
    if (pattern.empty()) return name.empty();
    if (pattern[0] == u'*') {
        for (std::size_t skip = 0; skip <= name.size(); ++skip)
            if (matches_pattern(pattern.substr(1), name.substr(skip))) return true;
        return false;
    }
    if (name.empty()) return false;
    if (pattern[0] != u'?' && upper_case(pattern[0]) != upper_case(name[0])) return false;
    return matches_pattern(pattern.substr(1), name.substr(1));
}

FileSystem::FileSystem() { add_drive('C'); }

void FileSystem::add_drive(char letter) {
    auto root = std::make_shared<Node>();
    root->name = std::u16string(1, static_cast<char16_t>(letter)) + u":";
    root->attributes = win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_HIDDEN |
                       win::FILE_ATTRIBUTE_SYSTEM;
    root->index = next_index_++;
    drives_[upper_case(static_cast<char16_t>(letter))] = root;
}

Lookup FileSystem::walk(std::u16string_view path, bool follow_final, int depth) {
    Lookup result;
    if (depth > link_depth_limit) {
        result.error = win::ERROR_CANT_RESOLVE_FILENAME;
        return result;
    }
    const ParsedPath parsed = parse_path(path, current_directory);
    if (parsed.error != 0) {
        result.error = parsed.error;
        return result;
    }
    const auto drive = drives_.find(parsed.drive);
    if (drive == drives_.end()) {
        result.error = win::ERROR_PATH_NOT_FOUND;
        return result;
    }
    NodePtr node = drive->second;
    for (std::size_t i = 0; i < parsed.components.size(); ++i) {
        const std::u16string& component = parsed.components[i];
        const bool last = i + 1 == parsed.components.size();
        for (char16_t unit : component) {
            if (is_invalid_name_character(unit)) {
                result.error = win::ERROR_INVALID_NAME;
                return result;
            }
        }
        if (!node->is_directory()) {
            result.error = win::ERROR_PATH_NOT_FOUND;
            return result;
        }
        const auto child = node->children.find(upper_case(component));
        if (child == node->children.end()) {
            result.parent = node;
            result.leaf = component;
            result.error = last ? win::ERROR_FILE_NOT_FOUND : win::ERROR_PATH_NOT_FOUND;
            if (!last) result.parent = nullptr;
            return result;
        }
        NodePtr next = child->second;
        if (next->reparse_tag != 0 && (!last || follow_final)) {
            Lookup target = walk(next->reparse_target, true, depth + 1);
            if (!target.node) {
                result.error = last ? win::ERROR_FILE_NOT_FOUND : win::ERROR_PATH_NOT_FOUND;
                return result;
            }
            next = target.node;
        }
        if (last) {
            result.parent = node;
            result.leaf = component;
        }
        node = next;
    }
    result.node = node;
    return result;
}

Lookup FileSystem::resolve(std::u16string_view path, bool follow_final) {
    return walk(path, follow_final, 0);
}

NodePtr FileSystem::create_child(Node& parent, std::u16string_view name, DWORD attributes) {
    auto node = std::make_shared<Node>();
    node->name = std::u16string(name);
    node->attributes = attributes;
    node->parent = &parent;
    node->index = next_index_++;
    parent.children[upper_case(name)] = node;
    return node;
}

void FileSystem::remove_child(Node& parent, const Node& child) {
    // The name may already belong to a newer entry when an unlinked one that
    // was still open goes away.
    const auto entry = parent.children.find(upper_case(child.name));
    if (entry != parent.children.end() && entry->second.get() == &child) {
        before_name_change();
        parent.children.erase(entry);
    }
}

int FileSystem::open(Node& node, DWORD access, DWORD share) {
    const int id = next_opening_++;
    node.openings[id] = {access, share};
    return id;
}

void FileSystem::close(Node& node, int opening) {
    node.openings.erase(opening);
    if (!node.delete_pending || node.parent == nullptr) return;
    if (node.openings.empty() || opening == node.unlink_on_close) {
        remove_child(*node.parent, node);
        node.parent = nullptr;  // unlinked: reachable only through handles still open
    }
}

bool FileSystem::sharing_allows(const Node& node, DWORD access, DWORD share) {
    const auto reads = [](DWORD mask) { return (mask & (win::GENERIC_READ | 0x1 | 0x20)) != 0; };
    const auto writes = [](DWORD mask) { return (mask & (win::GENERIC_WRITE | 0x2 | 0x4)) != 0; };
    const auto deletes = [](DWORD mask) { return (mask & win::DELETE) != 0; };
    const auto shares_checked = [&](DWORD mask) {
        return reads(mask) || writes(mask) || deletes(mask);
    };
    if (!shares_checked(access)) return true;
    for (const auto& [id, other] : node.openings) {
        if (!shares_checked(other.access)) continue;
        if (reads(access) && !(other.share & win::FILE_SHARE_READ)) return false;
        if (writes(access) && !(other.share & win::FILE_SHARE_WRITE)) return false;
        if (deletes(access) && !(other.share & win::FILE_SHARE_DELETE)) return false;
        if (reads(other.access) && !(share & win::FILE_SHARE_READ)) return false;
        if (writes(other.access) && !(share & win::FILE_SHARE_WRITE)) return false;
        if (deletes(other.access) && !(share & win::FILE_SHARE_DELETE)) return false;
    }
    return true;
}

void FileSystem::power_loss(const PowerLoss& loss) {
    if (loss.kept_changes < unforced_.size()) {
        for (DurableEntry& entry : unforced_[loss.kept_changes]) {
            entry.node->name = std::move(entry.name);
            entry.node->attributes = entry.attributes;
            entry.node->parent = entry.parent;
            entry.node->children = std::move(entry.children);
        }
    }
    unforced_.clear();
    std::uint32_t random = loss.seed;
    const auto next_random = [&random] {
        random = random * 1664525u + 1013904223u;
        return random >> 8;
    };
    std::vector<Node*> pending;
    for (auto& [letter, root] : drives_) pending.push_back(root.get());
    while (!pending.empty()) {
        Node* node = pending.back();
        pending.pop_back();
        if (node->data != node->durable) {
            switch (loss.data) {
                case PowerLoss::Data::old: node->data = node->durable; break;
                case PowerLoss::Data::empty: node->data.clear(); break;
                case PowerLoss::Data::torn: {
                    if (node->data.empty()) break;
                    const std::size_t reached = next_random() % node->data.size();
                    std::fill(node->data.begin() + static_cast<std::ptrdiff_t>(reached),
                              node->data.end(), std::uint8_t{0});
                    break;
                }
            }
            node->durable = node->data;
        }
        node->openings.clear();
        // A pending delete lives in memory only; the entry is still on disk.
        node->delete_pending = false;
        node->unlink_on_close = 0;
        for (auto& [name, child] : node->children) pending.push_back(child.get());
    }
}

void FileSystem::before_name_change() {
    // One snapshot a call: a rename that replaces a file is one change.
    if (!unforced_.empty() && call_of_last_change_ == call_) return;
    call_of_last_change_ = call_;
    std::vector<DurableEntry> entries;
    std::vector<NodePtr> pending;
    for (auto& [letter, root] : drives_) pending.push_back(root);
    while (!pending.empty()) {
        NodePtr node = std::move(pending.back());
        pending.pop_back();
        for (auto& [name, child] : node->children) pending.push_back(child);
        entries.push_back({node, node->name, node->attributes, node->parent, node->children});
    }
    unforced_.push_back(std::move(entries));
}

void FileSystem::force_names() { unforced_.clear(); }

void FileSystem::make_all_durable() {
    unforced_.clear();
    std::vector<Node*> pending;
    for (auto& [letter, root] : drives_) pending.push_back(root.get());
    while (!pending.empty()) {
        Node* node = pending.back();
        pending.pop_back();
        node->durable = node->data;
        for (auto& [name, child] : node->children) pending.push_back(child.get());
    }
}

Node& FileSystem::add_entry(std::string_view path, DWORD attributes) {
    const ParsedPath parsed = parse_path(to_u16(path), current_directory);
    if (parsed.error != 0 || parsed.components.empty())
        throw std::invalid_argument("sim: not a path for a new entry: " + std::string(path));
    if (!drives_.contains(parsed.drive)) add_drive(static_cast<char>(parsed.drive));
    Node* node = drives_[parsed.drive].get();
    for (std::size_t i = 0; i < parsed.components.size(); ++i) {
        const bool last = i + 1 == parsed.components.size();
        const auto child = node->children.find(upper_case(parsed.components[i]));
        if (child != node->children.end()) {
            if (last) throw std::invalid_argument("sim: entry exists: " + std::string(path));
            node = child->second.get();
            continue;
        }
        node = create_child(*node, parsed.components[i],
                            last ? attributes : win::FILE_ATTRIBUTE_DIRECTORY)
                   .get();
    }
    return *node;
}

Node& FileSystem::add_directory(std::string_view path) {
    return add_entry(path, win::FILE_ATTRIBUTE_DIRECTORY);
}

Node& FileSystem::add_file(std::string_view path, std::string_view contents) {
    Node& node = add_entry(path, win::FILE_ATTRIBUTE_ARCHIVE);
    node.data.assign(contents.begin(), contents.end());
    node.durable = node.data;
    return node;
}

Node& FileSystem::add_junction(std::string_view path, std::string_view target) {
    Node& node = add_entry(path, win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_REPARSE_POINT);
    node.reparse_tag = win::IO_REPARSE_TAG_MOUNT_POINT;
    node.reparse_target = to_u16(target);
    return node;
}

Node& FileSystem::add_symbolic_link(std::string_view path, std::string_view target,
                                    bool directory) {
    Node& node = add_entry(path, (directory ? win::FILE_ATTRIBUTE_DIRECTORY : 0) |
                                     win::FILE_ATTRIBUTE_REPARSE_POINT);
    node.reparse_tag = win::IO_REPARSE_TAG_SYMLINK;
    node.reparse_target = to_u16(target);
    return node;
}

Node* FileSystem::find(std::string_view path) {
    const ParsedPath parsed = parse_path(to_u16(path), current_directory);
    if (parsed.error != 0) return nullptr;
    const auto drive = drives_.find(parsed.drive);
    if (drive == drives_.end()) return nullptr;
    Node* node = drive->second.get();
    for (const std::u16string& component : parsed.components) {
        const auto child = node->children.find(upper_case(component));
        if (child == node->children.end()) return nullptr;
        node = child->second.get();
    }
    return node;
}

std::string FileSystem::contents(std::string_view path) {
    Node* node = find(path);
    if (node == nullptr) throw std::invalid_argument("sim: no such file: " + std::string(path));
    return std::string(node->data.begin(), node->data.end());
}

std::vector<std::string> FileSystem::list(std::string_view path) {
    Node* node = find(path);
    if (node == nullptr) throw std::invalid_argument("sim: no such directory: " + std::string(path));
    std::vector<std::string> names;
    for (const auto& [key, child] : node->children) names.push_back(wtf8_from_utf16(child->name));
    return names;
}

std::u16string FileSystem::path_of(const Node& node) {
    std::u16string path;
    const Node* current = &node;
    while (current->parent != nullptr) {
        path = u"\\" + current->name + path;
        current = current->parent;
    }
    // Only a drive's root has no parent; anything else without one is gone.
    if (current->name.size() != 2 || current->name[1] != u':') return {};
    return path.empty() ? current->name + u"\\" : current->name + path;
}

DWORD FileSystem::rename_as_other(std::string_view from, std::string_view to) {
    const Lookup source = resolve(to_u16(from), false);
    if (!source.node) return source.error;
    Node& moved = *source.node;
    if (moved.parent == nullptr || moved.delete_pending) return win::ERROR_ACCESS_DENIED;
    if (!sharing_allows(moved, win::DELETE, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE |
                                                win::FILE_SHARE_DELETE))
        return win::ERROR_SHARING_VIOLATION;
    const Lookup target = resolve(to_u16(to), false);
    if (target.node) return win::ERROR_ALREADY_EXISTS;
    if (!target.parent) return target.error;
    for (const Node* up = target.parent.get(); up != nullptr; up = up->parent)
        if (up == &moved) return win::ERROR_SHARING_VIOLATION;
    NodePtr keep = source.parent->children.at(upper_case(moved.name));
    remove_child(*source.parent, moved);
    moved.name = target.leaf;
    moved.parent = target.parent.get();
    target.parent->children[upper_case(target.leaf)] = keep;
    return 0;
}

DWORD FileSystem::delete_as_other(std::string_view path) {
    const Lookup lookup = resolve(to_u16(path), false);
    if (!lookup.node) return lookup.error;
    Node& node = *lookup.node;
    if (node.parent == nullptr || node.delete_pending) return win::ERROR_ACCESS_DENIED;
    if (!node.is_reparse_point() && !node.children.empty()) return win::ERROR_DIR_NOT_EMPTY;
    if (!sharing_allows(node, win::DELETE, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE |
                                               win::FILE_SHARE_DELETE))
        return win::ERROR_SHARING_VIOLATION;
    if (node.openings.empty()) {
        remove_child(*node.parent, node);
    } else {
        node.delete_pending = true;
    }
    return 0;
}

int FileSystem::hold_open(std::string_view path, DWORD access, DWORD share) {
    Node* node = find(path);
    if (node == nullptr) throw std::invalid_argument("sim: no such entry: " + std::string(path));
    return open(*node, access, share);
}

void FileSystem::release(int opening) {
    std::vector<Node*> pending;
    for (auto& [letter, root] : drives_) pending.push_back(root.get());
    while (!pending.empty()) {
        Node* node = pending.back();
        pending.pop_back();
        if (node->openings.contains(opening)) {
            close(*node, opening);
            return;
        }
        for (auto& [name, child] : node->children) pending.push_back(child.get());
    }
}

}  // namespace sim
