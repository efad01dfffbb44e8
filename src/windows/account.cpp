#include "windows/account.h"

#include "text_encoding.h"
#include "windows/installation_path.h"
#include "windows/system_error.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <memory>
#include <vector>

namespace installer_helper {
namespace {

constexpr std::array<std::string_view, 3> service_accounts = {"S-1-5-18", "S-1-5-19", "S-1-5-20"};

bool is_service_account(std::string_view text) {
    for (const std::string_view service : service_accounts)
        if (text == service) return true;
    return false;
}

// A decimal number that prints back exactly as written: this refuses signs,
// leading zeros and the empty piece.
bool is_exact_decimal(std::string_view piece, std::uint64_t maximum) {
    std::string_view digits = piece;
    if (digits.starts_with('+')) digits.remove_prefix(1);
    if (digits.empty()) return false;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size() || value > maximum)
        return false;
    return std::to_string(value) == piece;
}

std::vector<std::string_view> split_at_dashes(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t dash = text.find('-', start);
        if (dash == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, dash - start));
        start = dash + 1;
    }
}

}  // namespace

bool is_canonical_sid_text(std::string_view text) {
    if (is_service_account(text)) return false;
    const std::vector<std::string_view> pieces = split_at_dashes(text);
    if (pieces.size() < 4 || pieces.size() > 18) return false;
    if (pieces[0] != "S" || pieces[1] != "1") return false;
    if (!is_exact_decimal(pieces[2], (std::uint64_t{1} << 48) - 1)) return false;
    for (std::size_t i = 3; i < pieces.size(); ++i)
        if (!is_exact_decimal(pieces[i], 0xFFFFFFFFull)) return false;
    return true;
}

bool is_valid_account_sid(std::string_view text) {
    if (text.size() < 4 || !text.starts_with("S-1-")) return false;
    if (is_service_account(text)) return false;
    const auto wide = to_wide_nul(text);
    if (!wide) return false;
    LocalMemory<void> sid;
    if (!win::ConvertStringSidToSidW(wide->c_str(), sid.put())) return false;
    if (!win::IsValidSid(sid.get())) return false;
    const auto printed = sid_to_string(sid.get());
    return printed && *printed == text;
}

Result<std::string> sid_to_string(win::PSID sid) {
    LocalMemory<char16_t> text;
    if (!win::ConvertSidToStringSidW(sid, text.put()))
        return std::unexpected(os_error_message("Could not read the account SID"));
    const auto utf8 = utf8_from_utf16(std::u16string_view(text.get()));
    if (!utf8) return fail("The account SID is invalid.");
    return *utf8;
}

Result<KernelHandle> open_token(win::HANDLE process, bool duplicate) {
    const win::DWORD access = duplicate ? (win::TOKEN_QUERY | win::TOKEN_DUPLICATE)
                                        : win::TOKEN_QUERY;
    win::HANDLE token = nullptr;
    const win::BOOL opened = win::OpenProcessToken(process, access, &token);
    KernelHandle owned(token);
    if (!opened || !owned) return std::unexpected(os_error_message("Could not inspect the account token"));
    return owned;
}

Result<bool> is_process_elevated() {
    auto token = open_token(win::GetCurrentProcess(), false);
    if (!token) return std::unexpected(token.error());
    win::TOKEN_ELEVATION elevation;
    win::DWORD length = 0;
    if (!win::GetTokenInformation(token->get(), win::TokenElevation, &elevation, sizeof elevation,
                                  &length))
        return std::unexpected(os_error_message("Could not inspect account elevation"));
    return elevation.TokenIsElevated != 0;
}

Result<std::string> token_user_sid(win::HANDLE token) {
    win::DWORD length = 0;
    if (win::GetTokenInformation(token, win::TokenUser, nullptr, 0, &length) ||
        win::GetLastError() != win::ERROR_INSUFFICIENT_BUFFER || length == 0)
        return std::unexpected(os_error_message("Could not inspect the account SID"));

    // Storage aligned for a TOKEN_USER, whose SID pointer points into it.
    const std::size_t words = (length + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    std::vector<std::max_align_t> buffer(words);
    if (!win::GetTokenInformation(token, win::TokenUser, buffer.data(), length, &length))
        return std::unexpected(os_error_message("Could not inspect the account SID"));
    const auto* user = reinterpret_cast<const win::TOKEN_USER*>(buffer.data());
    return sid_to_string(user->User.Sid);
}

}  // namespace installer_helper
