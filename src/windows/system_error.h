// Messages about failed Windows calls.
#pragma once

#include "outcome.h"
#include "platform/win_api.h"

#include <string>
#include <string_view>

namespace installer_helper {

// Whether a failed open or search means that the path is not there: no
// such file, folder, drive, server or share.
bool means_path_missing(win::DWORD code);

// "{description} (os error {code})": the system's description of a Windows
// error code, then the code in decimal.
std::string system_error_text(win::DWORD code);

// "{text}: {description} (os error {code})" for the calling thread's last
// error. Call it right after the failing call, before any other Windows call.
HelperError os_error_message(std::string_view text);
// The same for an error code read earlier, when another call had to come
// between the failure and the message.
HelperError os_error_message(std::string_view text, win::DWORD code);

}  // namespace installer_helper
