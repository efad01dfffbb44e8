// Message templates: each "{}" receives the next argument's text, left to
// right. (The standard library here has no <format>.)
#pragma once

#include <array>
#include <concepts>
#include <string>
#include <string_view>

namespace installer_helper {

inline std::string display_text(std::string_view text) { return std::string(text); }

template <std::integral Number>
    requires(!std::same_as<Number, char> && !std::same_as<Number, bool>)
std::string display_text(Number number) {
    return std::to_string(number);
}

template <typename... Arguments>
std::string format_message(std::string_view pattern, const Arguments&... arguments) {
    const std::array<std::string, sizeof...(Arguments)> texts{display_text(arguments)...};
    std::string out;
    out.reserve(pattern.size() + 32);
    std::size_t next = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '{' && i + 1 < pattern.size() && pattern[i + 1] == '}' &&
            next < texts.size()) {
            out += texts[next++];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

}  // namespace installer_helper
