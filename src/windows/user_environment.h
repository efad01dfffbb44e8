// The original user: the account setup works for and its temporary
// directory, and the checks against what setup recorded for it.
#pragma once

#include "installer_context.h"
#include "outcome.h"

#include <optional>
#include <string>
#include <string_view>

namespace installer_helper {

struct OriginalUser {
    std::string sid;
    std::string temp;  // normalised
};

// Elevated, the owner of the desktop shell and that account's environment;
// otherwise the helper's own account and temporary directory. Each expected
// value that is given must match.
Result<OriginalUser> resolve_original_user(std::optional<std::string_view> expected_sid,
                                           std::optional<std::string_view> expected_temp);

// The original user and temporary directory are still those of the context.
Result<> validate_launch(const InstallerContext& context);

// Whether this run may roll back for the account recorded in the context:
// an administrator for any valid account, anyone else only for their own.
Result<> check_recovery_account(std::string_view context_sid);

}  // namespace installer_helper
