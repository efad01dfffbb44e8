#include "platform/win_api.h"
#include "text_encoding.h"
#include "windows/account.h"
#include "windows/environment_block.h"
#include "windows/handles.h"
#include "windows/installation_path.h"
#include "windows/reparse_points.h"
#include "windows/system_error.h"
#include "windows/user_environment.h"

#include <algorithm>

namespace installer_helper {
namespace {

// The account and its temporary directory as found, before any check.
struct FoundUser {
    std::string sid;
    std::string temp;
};

constexpr win::DWORD temp_path_first_buffer_units = 512;

// An elevated helper may run under another account than the player's: the
// player is whoever owns the desktop shell.
Result<FoundUser> shell_owner() {
    const win::HWND shell = win::GetShellWindow();
    win::DWORD shell_process_id = 0;
    if (shell == nullptr || win::GetWindowThreadProcessId(shell, &shell_process_id) == 0)
        return fail("The original user's desktop shell is unavailable.");

    const KernelHandle process(
        win::OpenProcess(win::PROCESS_QUERY_LIMITED_INFORMATION, win::FALSE, shell_process_id));
    if (!process) return std::unexpected(os_error_message("Could not inspect the desktop shell"));
    auto token = open_token(process.get(), true);
    if (!token) return std::unexpected(token.error());
    auto sid = token_user_sid(token->get());
    if (!sid) return std::unexpected(sid.error());

    EnvironmentBlock block;
    if (!win::CreateEnvironmentBlock(block.put(), token->get(), win::FALSE))
        return std::unexpected(os_error_message("Could not inspect the player account environment"));
    auto temp = temporary_directory_in(
        read_environment_block(static_cast<const char16_t*>(block.get())));
    if (!temp) return fail("The original user's temporary directory is unavailable.");
    return FoundUser{std::move(*sid), std::move(*temp)};
}

using TempPathFunction = win::DWORD (*)(win::DWORD, char16_t*);

// The path, grown to the size the system asks for until it fits; nothing on
// failure, with the last error left as the system set it.
std::optional<std::u16string> query_temp_path(TempPathFunction query) {
    std::u16string buffer(temp_path_first_buffer_units, u'\0');
    while (true) {
        const win::DWORD length = query(static_cast<win::DWORD>(buffer.size()), buffer.data());
        if (length == 0) return std::nullopt;
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(std::max<std::size_t>(length, buffer.size() + 1));
    }
}

Result<std::string> own_temporary_directory() {
    auto path = query_temp_path(win::GetTempPath2W);
    if (!path && win::GetLastError() == win::ERROR_CALL_NOT_IMPLEMENTED)
        path = query_temp_path(win::GetTempPathW);
    if (!path)
        return std::unexpected(
            os_error_message("Could not inspect the player account temporary directory"));
    return wtf8_from_utf16(*path);
}

Result<FoundUser> own_account() {
    std::string sid;
    {
        auto token = open_token(win::GetCurrentProcess(), false);
        if (!token) return std::unexpected(token.error());
        auto user = token_user_sid(token->get());
        if (!user) return std::unexpected(user.error());
        sid = std::move(*user);
    }
    auto temp = own_temporary_directory();
    if (!temp) return std::unexpected(temp.error());
    return FoundUser{std::move(sid), std::move(*temp)};
}

}  // namespace

Result<OriginalUser> resolve_original_user(std::optional<std::string_view> expected_sid,
                                           std::optional<std::string_view> expected_temp) {
    const auto elevated = is_process_elevated();
    if (!elevated) return std::unexpected(elevated.error());
    auto found = *elevated ? shell_owner() : own_account();
    if (!found) return std::unexpected(found.error());

    if (!is_valid_account_sid(found->sid) || (expected_sid && found->sid != *expected_sid))
        return fail("The original user no longer matches the account setup can launch.");

    auto temp = normalize_installation_path(found->temp);
    if (!temp) return std::unexpected(temp.error());
    if (expected_temp) {
        const auto expected = normalize_installation_path(*expected_temp);
        if (!expected) return std::unexpected(expected.error());
        if (!same_installation_path(*temp, *expected))
            return fail(
                "The original temporary directory differs from the player account environment. "
                "Restart setup from the normal desktop.");
    }
    if (auto checked = ensure_no_reparse_points(*temp); !checked)
        return std::unexpected(checked.error());
    return OriginalUser{std::move(found->sid), std::move(*temp)};
}

}  // namespace installer_helper
