// Looking at paths without ever following a junction or symbolic link.
#pragma once

#include "outcome.h"
#include "platform/win_api.h"
#include "windows/file_io.h"

#include <string>
#include <string_view>
#include <vector>

namespace installer_helper {

enum class PathKind { RegularFile, Directory, ReparsePoint, Missing };

// A drive letter with a root separator, a UNC path, or the extended-length
// form of either; never a device path.
bool is_absolute_installer_path(std::string_view path);

// The attributes of the path itself, never of a reparse point's target:
// through a handle with no access rights, or from the entry's directory
// listing when the path may not be opened.
IoResult<win::DWORD> read_path_attributes(std::string_view path);

// What the path itself is; a reparse point is reported, never followed.
Result<PathKind> inspect_path(std::string_view path);

// The root of an absolute path and each directory below it down to the
// path itself, outermost first: "C:\", "C:\a", "C:\a\b". Empty for a path
// that is not absolute.
std::vector<std::string> directories_from_root(std::string_view path);

// Refuses a relative path, and a path that is or runs through a junction,
// symbolic link or other reparse point. Missing components are allowed.
Result<> ensure_no_reparse_points(std::string_view path);

// The same for the part of `path` below `pinned`, a directory that the
// caller checked and holds pinned with everything above it, so that walking
// further up would prove nothing new. A path not below it is walked whole.
Result<> ensure_no_reparse_points_below(std::string_view path, std::string_view pinned);

}  // namespace installer_helper
