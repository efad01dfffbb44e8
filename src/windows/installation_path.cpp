#include "windows/installation_path.h"

#include "platform/win_api.h"
#include "text_encoding.h"

#include <climits>
#include <vector>

namespace installer_helper {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }
bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool is_reserved(char c) {
    return c == ':' || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*';
}

Result<> check_component(std::string_view component) {
    if (!is_valid_unicode(component)) return fail("The installation path must be valid Unicode.");
    if (component.find('\0') != std::string_view::npos)
        return fail("Invalid installation path component.");
    if (component.back() == '.' || component.back() == ' ')
        return fail("Invalid installation path component.");
    for (char c : component)
        if (is_reserved(c)) return fail("Invalid installation path component.");
    return {};
}

}  // namespace

Result<std::string> normalize_installation_path(std::string_view path) {
    if (path.size() < 3 || !is_ascii_letter(path[0]) || path[1] != ':' || !is_separator(path[2]))
        return fail("The installation path must be an absolute local path.");

    std::vector<std::string_view> kept;
    std::size_t position = 3;
    while (position < path.size()) {
        std::size_t end = position;
        while (end < path.size() && !is_separator(path[end])) ++end;
        const std::string_view piece = path.substr(position, end - position);
        position = end + 1;
        if (piece.empty() || piece == ".") continue;
        if (piece == "..") {
            if (kept.empty()) return fail("Installation path escaped its drive root.");
            kept.pop_back();
            continue;
        }
        if (auto checked = check_component(piece); !checked) return std::unexpected(checked.error());
        kept.push_back(piece);
    }
    if (kept.empty()) return fail("A drive root cannot be an installation directory.");

    std::string result(path.substr(0, 2));
    for (const std::string_view component : kept) {
        result += '\\';
        result += component;
    }
    return result;
}

bool same_installation_path(std::string_view a, std::string_view b) {
    const auto first = normalize_installation_path(a);
    const auto second = normalize_installation_path(b);
    if (!first || !second) return false;
    const std::u16string wide_first = utf16_from_wtf8(*first);
    const std::u16string wide_second = utf16_from_wtf8(*second);
    if (wide_first.size() > INT_MAX || wide_second.size() > INT_MAX) return false;
    return win::CompareStringOrdinal(wide_first.data(), static_cast<int>(wide_first.size()),
                                     wide_second.data(), static_cast<int>(wide_second.size()),
                                     win::TRUE) == win::CSTR_EQUAL;
}

Result<std::u16string> to_wide_nul(std::string_view text) {
    std::u16string wide = utf16_from_wtf8(text);
    if (wide.find(u'\0') != std::u16string::npos)
        return fail("A Windows argument contains a null character.");
    wide.push_back(u'\0');
    return wide;
}

std::string join_path(std::string_view directory, std::string_view name) {
    std::string joined(directory);
    if (!joined.empty() && !is_separator(joined.back())) joined += '\\';
    joined += name;
    return joined;
}

}  // namespace installer_helper
