// An entry opened as itself: a junction, symbolic link or other reparse
// point at the path is opened, never followed, and what the entry is comes
// from the handle. Whatever is done through the handle is done to the
// entry that was checked, even if the name is taken over in between.
#pragma once

#include "platform/win_api.h"
#include "windows/file_io.h"
#include "windows/handles.h"
#include "windows/reparse_points.h"

#include <string_view>

namespace installer_helper {

inline constexpr win::DWORD share_all =
    win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;

class EntryHandle {
public:
    // Opens an existing entry, file or directory, with `access`.
    static IoResult<EntryHandle> open(std::string_view path, win::DWORD access,
                                      win::DWORD share = share_all);
    // Opens the entry, creating a file when there is none (OPEN_ALWAYS).
    static IoResult<EntryHandle> open_or_create(std::string_view path, win::DWORD access);

    win::HANDLE get() const { return handle_.get(); }
    win::DWORD attributes() const { return attributes_; }
    // RegularFile, Directory or ReparsePoint, as read through the handle.
    PathKind kind() const;

    // How many names the file has; a hard link elsewhere makes it more than 1.
    IoResult<win::DWORD> link_count() const;
    // Clears FILE_ATTRIBUTE_READONLY when it is set.
    IoResult<> clear_read_only();
    // Cuts the file to no bytes.
    IoResult<> truncate();
    // Deletes the entry: its name goes when the last handle to it closes. A
    // directory must be empty. Needs DELETE access.
    IoResult<> mark_for_deletion() const;
    // The same, ignoring the read-only attribute and taking the name away
    // as this handle closes even while other handles stay open.
    IoResult<> mark_for_deletion_at_once() const;

private:
    EntryHandle(FileHandle handle, win::DWORD attributes)
        : handle_(std::move(handle)), attributes_(attributes) {}
    static IoResult<EntryHandle> opened(FileHandle handle);

    FileHandle handle_;
    win::DWORD attributes_ = 0;
};

}  // namespace installer_helper
