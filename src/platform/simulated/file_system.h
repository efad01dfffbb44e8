// The simulated file system: drives, case-insensitive names, attributes,
// junctions and symbolic links, sharing between open handles, and file data
// that was written but not yet flushed.
#pragma once

#include "platform/simulated/security.h"
#include "platform/win_api.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using win::DWORD;

struct Node {
    std::u16string name;
    DWORD attributes = win::FILE_ATTRIBUTE_ARCHIVE;
    std::vector<std::uint8_t> data;     // what a read sees now
    std::vector<std::uint8_t> durable;  // what survives a power loss
    std::map<std::u16string, std::shared_ptr<Node>> children;  // keyed by upper-case name
    Node* parent = nullptr;
    DWORD reparse_tag = 0;        // IO_REPARSE_TAG_MOUNT_POINT or IO_REPARSE_TAG_SYMLINK
    std::u16string reparse_target;  // absolute path of the link's target
    std::uint64_t index = 0;
    DWORD link_count = 1;  // names the file has; a test sets more for a hard-linked file
    bool delete_pending = false;
    // The opening whose close removes the name at once, other handles or not
    // (a POSIX-semantics delete); 0 when the name waits for the last close.
    int unlink_on_close = 0;
    std::optional<SecurityDescriptor> security_descriptor;  // given when it was created
    // Who owns the entry: the creating token's default owner for entries the
    // helper creates; set-up entries belong to the Administrators group
    // unless a test says otherwise.
    std::string owner_sid = "S-1-5-32-544";

    // Stand-ins for access control and locks held by other programs.
    DWORD open_error = 0;          // every CreateFileW of this entry fails with it
    DWORD create_child_error = 0;  // creating an entry inside this directory fails with it
    DWORD list_error = 0;          // enumerating this directory fails with it
    DWORD delete_error = 0;        // deleting this entry fails with it

    struct Opening {
        DWORD access;
        DWORD share;
    };
    std::map<int, Opening> openings;  // open handles on this entry, by id

    bool is_directory() const { return (attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool is_reparse_point() const { return (attributes & win::FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

using NodePtr = std::shared_ptr<Node>;

// Where a path leads. `node` is null when the last component does not
// exist; `error` then tells whether its parent exists (ERROR_FILE_NOT_FOUND)
// or not (ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME, ...).
struct Lookup {
    NodePtr node;
    NodePtr parent;
    std::u16string leaf;
    DWORD error = 0;
};

class FileSystem {
public:
    FileSystem();

    // --- scenario set-up and checks (paths in UTF-8; parents are created) ---
    void add_drive(char letter);
    Node& add_directory(std::string_view path);
    Node& add_file(std::string_view path, std::string_view contents = {});
    Node& add_junction(std::string_view path, std::string_view target);
    Node& add_symbolic_link(std::string_view path, std::string_view target, bool directory);
    // The entry itself, links not followed; null when absent.
    Node* find(std::string_view path);
    bool exists(std::string_view path) { return find(path) != nullptr; }
    std::string contents(std::string_view path);
    // Names in a directory, in enumeration order.
    std::vector<std::string> list(std::string_view path);
    // The full path an entry has now ("C:\\a\\b"); empty once it is unlinked.
    static std::u16string path_of(const Node& node);
    // A handle held by another program; returns its id for release().
    int hold_open(std::string_view path, DWORD access, DWORD share);
    void release(int opening);

    // --- another program of the user, acting between the helper's calls ---
    // Each is held to the rules the helper's own calls meet (renaming or
    // deleting needs DELETE access, refused while an opening does not share
    // it) and answers 0 or the Windows error that program would get.
    DWORD rename_as_other(std::string_view from, std::string_view to);
    DWORD delete_as_other(std::string_view path);  // a file, a link or an empty directory

    // --- used by the seam functions ---
    std::u16string current_directory = u"C:\\Windows\\system32";
    std::size_t capacity_bytes = SIZE_MAX;  // the largest file a write may grow
    Lookup resolve(std::u16string_view path, bool follow_final);
    NodePtr create_child(Node& parent, std::u16string_view name, DWORD attributes);
    void remove_child(Node& parent, const Node& child);
    int open(Node& node, DWORD access, DWORD share);  // registers an opening
    void close(Node& node, int opening);
    // Windows' share-access rule: an opening that asks for none of read,
    // write and delete access is not checked, and imposes its share mode on
    // no one.
    static bool sharing_allows(const Node& node, DWORD access, DWORD share);
    // What a power loss keeps: the first `kept_changes` of the name changes
    // made since the last force (see below), and for every file whose data
    // was written but not flushed, its old data, nothing, or a torn write.
    struct PowerLoss {
        enum class Data { old, empty, torn };
        std::size_t kept_changes = 0;
        Data data = Data::old;
        std::uint32_t seed = 1;  // where each torn file's new bytes stop
    };
    void power_loss(const PowerLoss& loss);

    // --- what a power loss keeps of names and attributes ---
    // NTFS logs every change to names and attributes (an entry created,
    // renamed or deleted, attributes set) in order, and writes the log to
    // disk when a call forces it (FlushFileBuffers, or a rename through a
    // write-through handle) and, unforced, whenever it likes. After a power
    // loss the log is replayed: what survives is every change up to the last
    // force and then some prefix of the changes after it, so a later change
    // never survives an earlier one. File data is separate: only what was
    // flushed is sure to survive; NTFS extends a file's valid length only as
    // data reaches the disk, so an unflushed file reads as its old data,
    // as nothing, or as a prefix of its new bytes followed by zeros.
    // One log serves all drives here, each seam call is one change however
    // many names it touches, and a scenario's own set-up counts as forced
    // unless it is made while seam changes are pending.
    // Sources: "NTFS Recoverability" (Windows 2000 Server resource kit,
    // learn.microsoft.com cc976805: metadata transactions are logged and
    // replayed, user data is not); FlushFileBuffers and NtFlushBuffersFileEx
    // (a flush writes the file's data and metadata; a directory handle may be
    // flushed); MoveFileExW (MOVEFILE_WRITE_THROUGH); and
    // FILE_VALID_DATA_LENGTH_INFORMATION (bytes past a file's valid data
    // length read as zeros).
    void before_name_change();  // the seam, right before it changes a name or attributes
    void force_names();         // the seam, when a call forces the log to disk
    void make_all_durable();    // a scenario: everything so far is on disk
    void next_call() { ++call_; }  // the seam, as each call starts
    std::size_t unforced_changes() const { return unforced_.size(); }

private:
    // An entry's name, attributes and place as they are on disk.
    struct DurableEntry {
        NodePtr node;
        std::u16string name;
        DWORD attributes;
        Node* parent;
        std::map<std::u16string, NodePtr> children;
    };
    // The names as they were before each unforced change, oldest first.
    std::vector<std::vector<DurableEntry>> unforced_;
    std::uint64_t call_ = 0;
    std::uint64_t call_of_last_change_ = 0;
    std::map<char16_t, NodePtr> drives_;
    std::uint64_t next_index_ = 1;
    int next_opening_ = 1;
    Node& add_entry(std::string_view path, DWORD attributes);
    Lookup walk(std::u16string_view path, bool follow_final, int depth);
};

// Windows' name matching for * and ? in a search pattern, ignoring case.
bool matches_pattern(std::u16string_view pattern, std::u16string_view name);

}  // namespace sim
