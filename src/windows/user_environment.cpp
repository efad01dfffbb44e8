#include "windows/user_environment.h"

#include "platform/win_api.h"
#include "windows/account.h"

namespace installer_helper {

Result<> validate_launch(const InstallerContext& context) {
    const auto user = resolve_original_user(context.sid, context.temp);
    if (!user) return std::unexpected(user.error());
    return {};
}

Result<> check_recovery_account(std::string_view context_sid) {
    const auto elevated = is_process_elevated();
    if (!elevated) return std::unexpected(elevated.error());
    if (!is_valid_account_sid(context_sid))
        return fail("The recovery account does not match the original installer user.");
    if (*elevated) return {};

    const auto token = open_token(win::GetCurrentProcess(), false);
    if (!token) return std::unexpected(token.error());
    const auto sid = token_user_sid(token->get());
    if (!sid) return std::unexpected(sid.error());
    if (*sid != context_sid)
        return fail("The recovery account does not match the original installer user.");
    return {};
}

}  // namespace installer_helper
