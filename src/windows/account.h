// Account SIDs and process tokens.
#pragma once

#include "outcome.h"
#include "platform/win_api.h"
#include "windows/handles.h"

#include <string>
#include <string_view>

namespace installer_helper {

// The canonical text form S-1-{authority}-{sub}... with 1 to 15
// sub-authorities, and not one of the three service accounts. No Windows call.
bool is_canonical_sid_text(std::string_view text);

// Whether Windows accepts the text as a SID and prints it back identically;
// the service accounts are refused. Never fails.
bool is_valid_account_sid(std::string_view text);

// The text form of a binary SID.
Result<std::string> sid_to_string(win::PSID sid);

// The token of a process, for querying (and for duplicating, when asked).
Result<KernelHandle> open_token(win::HANDLE process, bool duplicate);

// Whether the helper's own process runs elevated.
Result<bool> is_process_elevated();

// The SID text of the token's user. The token stays open.
Result<std::string> token_user_sid(win::HANDLE token);

}  // namespace installer_helper
