// What a path leads to with links followed: the plain existence tests of
// the context capture and the directory probe. Callers that act on a path
// check it for reparse points first; these answer only "is it there".
#pragma once

#include "outcome.h"
#include "platform/win_api.h"

#include <string_view>

namespace installer_helper {

enum class FollowedKind { Missing, File, Directory };

// Missing for every failure that means "not there"; other failures read
// "Cannot inspect the installation directory: {}".
Result<FollowedKind> followed_kind(std::string_view path);

// "Cannot inspect the installation directory: {}" for a Windows error.
HelperError directory_inspection_error(win::DWORD code);

}  // namespace installer_helper
