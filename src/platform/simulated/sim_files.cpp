// The seam's file-system functions, acting on the simulated machine.
#include "platform/simulated/case_mapping.h"
#include "platform/simulated/machine.h"
#include "platform/simulated/sim_handles.h"
#include "platform/win_api.h"

#include <algorithm>
#include <cstring>

namespace win {
namespace {

using sim::current;
using sim::Machine;
using sim::Node;
using sim::NodePtr;

constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_DIRECTORY = 267;
constexpr DWORD ERROR_BAD_LENGTH = 24;

constexpr DWORD read_rights = GENERIC_READ | 0x1 /* FILE_READ_DATA */;
constexpr DWORD write_rights = GENERIC_WRITE | 0x2 /* FILE_WRITE_DATA */ | 0x4 /* APPEND */;

std::u16string_view text_of(const char16_t* text) {
    return text == nullptr ? std::u16string_view{} : std::u16string_view{text};
}

BOOL failure(Machine& machine, DWORD error) {
    machine.set_last_error(error);
    return FALSE;
}

HANDLE failed_handle(Machine& machine, DWORD error) {
    machine.set_last_error(error);
    return INVALID_HANDLE_VALUE;
}

void fill_find_data(const Node& node, std::u16string_view name, WIN32_FIND_DATAW* data) {
    *data = WIN32_FIND_DATAW{};
    data->dwFileAttributes = node.attributes;
    data->nFileSizeHigh = static_cast<DWORD>(node.data.size() >> 32);
    data->nFileSizeLow = static_cast<DWORD>(node.data.size());
    data->dwReserved0 = node.reparse_tag;
    const std::size_t length = std::min(name.size(), MAX_PATH - 1);
    std::copy_n(name.begin(), length, data->cFileName);
}

// What a new entry's owner is when the creator gives none: an elevated
// administrator's token names the Administrators group, any other token
// its user.
std::string default_owner(const Machine& machine) {
    return machine.accounts.elevated ? "S-1-5-32-544" : machine.accounts.user_sid;
}

bool has_wildcard(std::u16string_view piece) {
    return piece.find_first_of(u"*?") != std::u16string_view::npos;
}

// Deleting an entry: refused while another handle keeps it without sharing
// deletion; otherwise the name goes when the last handle closes.
BOOL delete_entry(Machine& machine, Node& node) {
    if (node.delete_error != 0) return failure(machine, node.delete_error);
    if (node.delete_pending) return failure(machine, ERROR_ACCESS_DENIED);
    if (!sim::FileSystem::sharing_allows(node, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                                           FILE_SHARE_DELETE))
        return failure(machine, ERROR_SHARING_VIOLATION);
    if (!node.openings.empty()) {
        node.delete_pending = true;
    } else {
        machine.files.remove_child(*node.parent, node);
    }
    return TRUE;
}

}  // namespace

HANDLE CreateFileW(const char16_t* file_name, DWORD desired_access, DWORD share_mode,
                   const SECURITY_ATTRIBUTES*, DWORD creation_disposition,
                   DWORD flags_and_attributes) {
    Machine& machine = current();
    const std::u16string_view path = text_of(file_name);
    const bool changes = creation_disposition != OPEN_EXISTING;
    if (!machine.enter("CreateFileW", changes, path)) return INVALID_HANDLE_VALUE;

    const bool follow = (flags_and_attributes & FILE_FLAG_OPEN_REPARSE_POINT) == 0;
    const sim::Lookup lookup = machine.files.resolve(path, follow);
    NodePtr node = lookup.node;
    DWORD result_error = 0;
    if (node) {
        if (node->open_error != 0) return failed_handle(machine, node->open_error);
        if (node->delete_pending) return failed_handle(machine, ERROR_ACCESS_DENIED);
        const bool truncates = creation_disposition == CREATE_ALWAYS ||
                               creation_disposition == TRUNCATE_EXISTING;
        if (creation_disposition == CREATE_NEW) return failed_handle(machine, ERROR_FILE_EXISTS);
        if (node->is_directory() &&
            ((flags_and_attributes & FILE_FLAG_BACKUP_SEMANTICS) == 0 || truncates))
            return failed_handle(machine, ERROR_ACCESS_DENIED);
        const bool read_only = (node->attributes & FILE_ATTRIBUTE_READONLY) != 0;
        if (read_only && ((desired_access & write_rights) != 0 || truncates))
            return failed_handle(machine, ERROR_ACCESS_DENIED);
        if (!sim::FileSystem::sharing_allows(*node, desired_access, share_mode))
            return failed_handle(machine, ERROR_SHARING_VIOLATION);
        if (truncates) {
            node->data.clear();
            node->durable.clear();
        }
        if (creation_disposition == CREATE_ALWAYS || creation_disposition == OPEN_ALWAYS)
            result_error = ERROR_ALREADY_EXISTS;
    } else {
        const bool creates = creation_disposition == CREATE_NEW ||
                             creation_disposition == CREATE_ALWAYS ||
                             creation_disposition == OPEN_ALWAYS;
        if (lookup.error != ERROR_FILE_NOT_FOUND || !lookup.parent || !creates)
            return failed_handle(machine, lookup.error);
        if (lookup.parent->create_child_error != 0)
            return failed_handle(machine, lookup.parent->create_child_error);
        if (lookup.parent->delete_pending) return failed_handle(machine, ERROR_ACCESS_DENIED);
        const DWORD attributes =
            FILE_ATTRIBUTE_ARCHIVE |
            (flags_and_attributes &
             (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
        machine.files.before_name_change();
        node = machine.files.create_child(*lookup.parent, lookup.leaf, attributes);
        node->owner_sid = default_owner(machine);
    }
    auto object = std::make_unique<sim::FileObject>(machine.files, node, desired_access, share_mode);
    machine.set_last_error(result_error);
    return machine.add_handle(std::move(object));
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
    Machine& machine = current();
    if (!machine.enter("GetFileInformationByHandle", false)) return FALSE;
    auto* object = machine.handle<sim::FileObject>(file);
    if (object == nullptr) return failure(machine, ERROR_INVALID_HANDLE);
    const Node& node = *object->node;
    *information = BY_HANDLE_FILE_INFORMATION{};
    information->dwFileAttributes = node.attributes;
    information->dwVolumeSerialNumber = 0x5EED;
    information->nFileSizeHigh = static_cast<DWORD>(node.data.size() >> 32);
    information->nFileSizeLow = static_cast<DWORD>(node.data.size());
    information->nNumberOfLinks = node.link_count;
    information->nFileIndexHigh = static_cast<DWORD>(node.index >> 32);
    information->nFileIndexLow = static_cast<DWORD>(node.index);
    return TRUE;
}

HANDLE FindFirstFileExW(const char16_t* file_name, FINDEX_INFO_LEVELS, WIN32_FIND_DATAW* find_data,
                        FINDEX_SEARCH_OPS, DWORD) {
    Machine& machine = current();
    const std::u16string_view path = text_of(file_name);
    if (!machine.enter("FindFirstFileExW", false, path)) return INVALID_HANDLE_VALUE;

    const std::size_t separator = path.find_last_of(u"\\/");
    const std::u16string directory_path =
        separator == std::u16string_view::npos ? machine.files.current_directory
                                               : std::u16string(path.substr(0, separator + 1));
    std::u16string piece(separator == std::u16string_view::npos ? path : path.substr(separator + 1));
    if (!has_wildcard(piece))
        while (!piece.empty() && (piece.back() == u'.' || piece.back() == u' ')) piece.pop_back();
    if (piece.empty()) return failed_handle(machine, ERROR_FILE_NOT_FOUND);

    const sim::Lookup directory = machine.files.resolve(directory_path, true);
    if (!directory.node) {
        return failed_handle(machine, directory.error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND
                                                                              : directory.error);
    }
    if (!directory.node->is_directory()) return failed_handle(machine, ERROR_DIRECTORY);
    if (directory.node->list_error != 0) return failed_handle(machine, directory.node->list_error);

    auto search = std::make_unique<sim::FindObject>();
    if (has_wildcard(piece)) {
        if (directory.node->parent != nullptr) {
            for (std::u16string_view dots : {u".", u".."}) {
                if (!sim::matches_pattern(piece, dots)) continue;
                WIN32_FIND_DATAW entry;
                fill_find_data(*directory.node, dots, &entry);
                entry.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
                entry.dwReserved0 = 0;
                search->entries.push_back(entry);
            }
        }
        for (const auto& [key, child] : directory.node->children) {
            if (!sim::matches_pattern(piece, child->name)) continue;
            WIN32_FIND_DATAW entry;
            fill_find_data(*child, child->name, &entry);
            search->entries.push_back(entry);
        }
    } else {
        const auto child = directory.node->children.find(sim::upper_case(piece));
        if (child != directory.node->children.end()) {
            WIN32_FIND_DATAW entry;
            fill_find_data(*child->second, child->second->name, &entry);
            search->entries.push_back(entry);
        }
    }
    if (search->entries.empty()) return failed_handle(machine, ERROR_FILE_NOT_FOUND);
    *find_data = search->entries[0];
    search->next = 1;
    return machine.add_handle(std::move(search));
}

BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* find_data) {
    Machine& machine = current();
    if (!machine.enter("FindNextFileW", false)) return FALSE;
    auto* search = machine.handle<sim::FindObject>(find);
    if (search == nullptr) return failure(machine, ERROR_INVALID_HANDLE);
    if (search->next >= search->entries.size()) return failure(machine, ERROR_NO_MORE_FILES);
    *find_data = search->entries[search->next++];
    return TRUE;
}

BOOL FindClose(HANDLE find) {
    Machine& machine = current();
    if (!machine.enter("FindClose", false)) return FALSE;
    if (machine.handle<sim::FindObject>(find) == nullptr)
        return failure(machine, ERROR_INVALID_HANDLE);
    machine.close_handle(find);
    return TRUE;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytes_to_read, DWORD* bytes_read) {
    Machine& machine = current();
    *bytes_read = 0;
    if (!machine.enter("ReadFile", false)) return FALSE;
    auto* object = machine.handle<sim::FileObject>(file);
    if (object == nullptr) return failure(machine, ERROR_INVALID_HANDLE);
    if ((object->access & read_rights) == 0) return failure(machine, ERROR_ACCESS_DENIED);
    if (object->node->is_directory()) return failure(machine, ERROR_INVALID_PARAMETER);
    const auto& data = object->node->data;
    const std::size_t available =
        object->position < data.size() ? data.size() - object->position : 0;
    const std::size_t count = std::min<std::size_t>(available, bytes_to_read);
    if (count > 0) std::memcpy(buffer, data.data() + object->position, count);
    object->position += count;
    *bytes_read = static_cast<DWORD>(count);
    return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes_to_write, DWORD* bytes_written) {
    Machine& machine = current();
    *bytes_written = 0;
    if (!machine.enter("WriteFile", true)) return FALSE;
    const auto* bytes = static_cast<const char*>(buffer);
    if (file == sim::standard_error_handle || file == sim::standard_output_handle) {
        const bool error = file == sim::standard_error_handle;
        if ((error ? machine.console.error : machine.console.output) ==
            sim::Console::Stream::absent)
            return failure(machine, ERROR_INVALID_HANDLE);
        (error ? machine.console.error_bytes : machine.console.output_bytes)
            .append(bytes, bytes_to_write);
        if (error) ++machine.console.error_writes;
        *bytes_written = bytes_to_write;
        return TRUE;
    }
    auto* object = machine.handle<sim::FileObject>(file);
    if (object == nullptr) return failure(machine, ERROR_INVALID_HANDLE);
    if ((object->access & write_rights) == 0) return failure(machine, ERROR_ACCESS_DENIED);
    auto& data = object->node->data;
    const std::size_t end = object->position + bytes_to_write;
    if (end > machine.files.capacity_bytes) return failure(machine, ERROR_DISK_FULL);
    if (data.size() < end) data.resize(end);
    std::memcpy(data.data() + object->position, bytes, bytes_to_write);
    object->position = end;
    *bytes_written = bytes_to_write;
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
    Machine& machine = current();
    if (!machine.enter("FlushFileBuffers", true)) return FALSE;
    auto* object = machine.handle<sim::FileObject>(file);
    if (object == nullptr) return failure(machine, ERROR_INVALID_HANDLE);
    if ((object->access & write_rights) == 0) return failure(machine, ERROR_ACCESS_DENIED);
    object->node->durable = object->node->data;
    machine.files.force_names();  // NTFS writes its log out with the file
    return TRUE;
}

BOOL CreateDirectoryW(const char16_t* path, const SECURITY_ATTRIBUTES* security) {
    Machine& machine = current();
    if (!machine.enter("CreateDirectoryW", true, text_of(path))) return FALSE;
    const sim::Lookup lookup = machine.files.resolve(text_of(path), false);
    if (lookup.node) return failure(machine, ERROR_ALREADY_EXISTS);
    if (lookup.error != ERROR_FILE_NOT_FOUND || !lookup.parent)
        return failure(machine, lookup.error);
    if (lookup.parent->create_child_error != 0)
        return failure(machine, lookup.parent->create_child_error);
    if (lookup.parent->delete_pending) return failure(machine, ERROR_ACCESS_DENIED);
    // The directory is created with the caller's descriptor in one step; one
    // that is not a security descriptor is refused before anything exists.
    const sim::SecurityDescriptor* descriptor = nullptr;
    if (security != nullptr && security->lpSecurityDescriptor != nullptr) {
        descriptor = machine.security_descriptor(security->lpSecurityDescriptor);
        if (descriptor == nullptr) return failure(machine, ERROR_INVALID_SECURITY_DESCR);
    }
    machine.files.before_name_change();
    NodePtr node = machine.files.create_child(*lookup.parent, lookup.leaf, FILE_ATTRIBUTE_DIRECTORY);
    node->owner_sid = default_owner(machine);
    if (descriptor != nullptr) node->security_descriptor = *descriptor;
    return TRUE;
}

BOOL RemoveDirectoryW(const char16_t* path) {
    Machine& machine = current();
    if (!machine.enter("RemoveDirectoryW", true, text_of(path))) return FALSE;
    const sim::Lookup lookup = machine.files.resolve(text_of(path), false);
    if (!lookup.node) return failure(machine, lookup.error);
    Node& node = *lookup.node;
    if (node.parent == nullptr) return failure(machine, ERROR_ACCESS_DENIED);
    if (!node.is_directory()) return failure(machine, ERROR_DIRECTORY);
    if (!node.is_reparse_point() && !node.children.empty())
        return failure(machine, ERROR_DIR_NOT_EMPTY);
    return delete_entry(machine, node);
}

BOOL DeleteFileW(const char16_t* path) {
    Machine& machine = current();
    if (!machine.enter("DeleteFileW", true, text_of(path))) return FALSE;
    const sim::Lookup lookup = machine.files.resolve(text_of(path), false);
    if (!lookup.node) return failure(machine, lookup.error);
    Node& node = *lookup.node;
    if (node.is_directory() && !node.is_reparse_point()) return failure(machine, ERROR_ACCESS_DENIED);
    if ((node.attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return failure(machine, ERROR_ACCESS_DENIED);
    return delete_entry(machine, node);
}

BOOL SetFileAttributesW(const char16_t* path, DWORD attributes) {
    Machine& machine = current();
    if (!machine.enter("SetFileAttributesW", true, text_of(path))) return FALSE;
    const sim::Lookup lookup = machine.files.resolve(text_of(path), false);
    if (!lookup.node) return failure(machine, lookup.error);
    constexpr DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                               FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | 0x2000;
    constexpr DWORD kept = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    machine.files.before_name_change();
    lookup.node->attributes = (lookup.node->attributes & kept) | (attributes & settable);
    return TRUE;
}

BOOL MoveFileExW(const char16_t* existing, const char16_t* destination, DWORD flags) {
    Machine& machine = current();
    if (!machine.enter("MoveFileExW", true, text_of(existing))) return FALSE;
    const sim::Lookup source = machine.files.resolve(text_of(existing), false);
    if (!source.node) return failure(machine, source.error);
    const sim::Lookup target = machine.files.resolve(text_of(destination), false);
    if (!target.parent) return failure(machine, target.error);
    Node& moved = *source.node;
    if (moved.parent == nullptr) return failure(machine, ERROR_ACCESS_DENIED);
    if (!sim::FileSystem::sharing_allows(moved, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                                            FILE_SHARE_DELETE))
        return failure(machine, ERROR_SHARING_VIOLATION);
    for (const Node* up = target.parent.get(); up != nullptr; up = up->parent)
        if (up == &moved) return failure(machine, ERROR_SHARING_VIOLATION);
    // The rename opens the destination's directory to add the name, for
    // writing and sharing read and write: one held without sharing write
    // takes no new names.
    if (!sim::FileSystem::sharing_allows(*target.parent, 0x2 /* FILE_ADD_FILE */,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE))
        return failure(machine, ERROR_SHARING_VIOLATION);
    const Node* target_root = target.parent.get();
    while (target_root->parent != nullptr) target_root = target_root->parent;
    const Node* source_root = &moved;
    while (source_root->parent != nullptr) source_root = source_root->parent;
    if (target_root != source_root) return failure(machine, ERROR_NOT_SAME_DEVICE);
    if (target.node && target.node.get() != &moved) {
        if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) return failure(machine, ERROR_ALREADY_EXISTS);
        // The old rename semantics that MoveFileExW uses: a destination that
        // any handle holds open is never replaced, shared for delete or not.
        if (target.node->is_directory() ||
            (target.node->attributes & FILE_ATTRIBUTE_READONLY) != 0 ||
            !target.node->openings.empty())
            return failure(machine, ERROR_ACCESS_DENIED);
    }
    // One step: the replaced entry goes and the moved one takes its name.
    machine.files.before_name_change();
    if (target.node && target.node.get() != &moved)
        machine.files.remove_child(*target.parent, *target.node);
    NodePtr keep = source.parent->children.at(sim::upper_case(moved.name));
    machine.files.remove_child(*source.parent, moved);
    moved.name = target.leaf;
    moved.parent = target.parent.get();
    target.parent->children[sim::upper_case(target.leaf)] = keep;
    // The rename goes through a handle opened write-through, so it is in the
    // log on disk when the call returns.
    if ((flags & MOVEFILE_WRITE_THROUGH) != 0) machine.files.force_names();
    return TRUE;
}

namespace {

// Deleting through a handle. A plain delete (FileDispositionInfo) and the
// extended one without POSIX semantics keep the name until the last handle
// closes; a POSIX-semantics delete removes it when this handle closes, while
// others may stay open. Read-only files are refused (STATUS_CANNOT_DELETE)
// unless the extended caller says to ignore the attribute; so is a directory
// that is not empty.
BOOL set_disposition(Machine& machine, sim::FileObject& object, DWORD flags) {
    constexpr DWORD modelled_flags = FILE_DISPOSITION_FLAG_DELETE |
                                     FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                     FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;
    // Forcing an image-section check and the on-close state are not modelled.
    if ((flags & ~modelled_flags) != 0) return failure(machine, ERROR_INVALID_PARAMETER);
    if ((object.access & DELETE) == 0) return failure(machine, ERROR_ACCESS_DENIED);
    Node& node = *object.node;
    if (node.parent == nullptr) return failure(machine, ERROR_ACCESS_DENIED);  // a root, or gone
    if ((flags & FILE_DISPOSITION_FLAG_DELETE) == 0) {
        node.delete_pending = false;
        node.unlink_on_close = 0;
        return TRUE;
    }
    if (node.delete_error != 0) return failure(machine, node.delete_error);
    if ((node.attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (flags & FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE) == 0)
        return failure(machine, ERROR_ACCESS_DENIED);
    if (node.is_directory() && !node.children.empty()) return failure(machine, ERROR_DIR_NOT_EMPTY);
    node.delete_pending = true;
    if ((flags & FILE_DISPOSITION_FLAG_POSIX_SEMANTICS) != 0)
        node.unlink_on_close = object.opening;
    return TRUE;
}

constexpr DWORD settable_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      0x2000 /* NOT_CONTENT_INDEXED */;

template <typename Information>
const Information* sized(const void* information, DWORD buffer_size) {
    if (information == nullptr || buffer_size < sizeof(Information)) return nullptr;
    return static_cast<const Information*>(information);
}

}  // namespace

BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                  void* information, DWORD buffer_size) {
    Machine& machine = current();
    if (!machine.enter("GetFileInformationByHandleEx", false)) return FALSE;
    auto* object = machine.handle<sim::FileObject>(file);
    if (object == nullptr) return failure(machine, ERROR_INVALID_HANDLE);
    const Node& node = *object->node;
    switch (information_class) {
        case FileBasicInfo: {
            if (!sized<FILE_BASIC_INFO>(information, buffer_size))
                return failure(machine, ERROR_BAD_LENGTH);
            *static_cast<FILE_BASIC_INFO*>(information) = {.FileAttributes = node.attributes};
            return TRUE;
        }
        case FileStandardInfo: {
            if (!sized<FILE_STANDARD_INFO>(information, buffer_size))
                return failure(machine, ERROR_BAD_LENGTH);
            *static_cast<FILE_STANDARD_INFO*>(information) = {
                .AllocationSize = static_cast<std::int64_t>(node.data.size()),
                .EndOfFile = static_cast<std::int64_t>(node.data.size()),
                .NumberOfLinks = node.link_count,
                .DeletePending = static_cast<std::uint8_t>(node.delete_pending ? 1 : 0),
                .Directory = static_cast<std::uint8_t>(node.is_directory() ? 1 : 0)};
            return TRUE;
        }
        case FileAttributeTagInfo: {
            if (!sized<FILE_ATTRIBUTE_TAG_INFO>(information, buffer_size))
                return failure(machine, ERROR_BAD_LENGTH);
            *static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information) = {
                .FileAttributes = node.attributes, .ReparseTag = node.reparse_tag};
            return TRUE;
        }
        default:
            return failure(machine, ERROR_INVALID_PARAMETER);
    }
}

BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                void* information, DWORD buffer_size) {
    Machine& machine = current();
    auto* object = machine.handle<sim::FileObject>(file);
    // Named by the entry's path, so that tests can follow what changes where.
    const std::u16string path = object != nullptr ? sim::FileSystem::path_of(*object->node) : u"";
    if (!machine.enter("SetFileInformationByHandle", true, path)) return FALSE;
    if (object == nullptr) return failure(machine, ERROR_INVALID_HANDLE);
    Node& node = *object->node;
    switch (information_class) {
        case FileBasicInfo: {
            const auto* basic = sized<FILE_BASIC_INFO>(information, buffer_size);
            if (basic == nullptr) return failure(machine, ERROR_BAD_LENGTH);
            if ((object->access & FILE_WRITE_ATTRIBUTES) == 0)
                return failure(machine, ERROR_ACCESS_DENIED);
            // 0 leaves the attributes as they are.
            if (basic->FileAttributes != 0) {
                machine.files.before_name_change();
                constexpr DWORD kept = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
                node.attributes =
                    (node.attributes & kept) | (basic->FileAttributes & settable_attributes);
            }
            return TRUE;
        }
        case FileEndOfFileInfo: {
            const auto* end = sized<FILE_END_OF_FILE_INFO>(information, buffer_size);
            if (end == nullptr) return failure(machine, ERROR_BAD_LENGTH);
            if ((object->access & write_rights) == 0 || node.is_directory())
                return failure(machine, ERROR_ACCESS_DENIED);
            if (end->EndOfFile < 0) return failure(machine, ERROR_INVALID_PARAMETER);
            const auto size = static_cast<std::size_t>(end->EndOfFile);
            if (size > machine.files.capacity_bytes) return failure(machine, ERROR_DISK_FULL);
            node.data.resize(size);
            return TRUE;
        }
        case FileDispositionInfo: {
            const auto* disposition = sized<FILE_DISPOSITION_INFO>(information, buffer_size);
            if (disposition == nullptr) return failure(machine, ERROR_BAD_LENGTH);
            return set_disposition(machine, *object,
                                   disposition->DeleteFile != 0 ? FILE_DISPOSITION_FLAG_DELETE : 0);
        }
        case FileDispositionInfoEx: {
            const auto* disposition = sized<FILE_DISPOSITION_INFO_EX>(information, buffer_size);
            if (disposition == nullptr) return failure(machine, ERROR_BAD_LENGTH);
            return set_disposition(machine, *object, disposition->Flags);
        }
        default:
            return failure(machine, ERROR_INVALID_PARAMETER);
    }
}

BOOL CloseHandle(HANDLE object) {
    Machine& machine = current();
    if (!machine.enter("CloseHandle", false)) return FALSE;
    if (object == GetCurrentProcess() || object == sim::standard_error_handle ||
        object == sim::standard_output_handle)
        return TRUE;
    if (!machine.close_handle(object)) return failure(machine, ERROR_INVALID_HANDLE);
    return TRUE;
}

}  // namespace win
