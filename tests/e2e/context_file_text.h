// An installer context file as the context action writes it (in UTF-8, which
// the reader also takes), for end-to-end tests that need one before the
// context action itself can give them one.
#pragma once

#include <string>
#include <string_view>

namespace e2e {

inline std::string context_file_text(std::string_view sid, std::string_view temp,
                                     std::string_view directory) {
    std::string text = "[context]\r\n";
    const auto line = [&](std::string_view key, std::string_view value) {
        text.append(key).append("=").append(value).append("\r\n");
    };
    line("sid", sid);
    line("temp", temp);
    line("desktop", "C:\\users\\Public\\Desktop");
    line("programs", "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
    line("local", "C:\\users\\Public\\AppData\\Local");
    line("roaming", "C:\\users\\Public\\AppData\\Roaming");
    line("directory", directory);
    line("scope", "user");
    line("legacy", "0");
    line("elevate", "0");
    return text;
}

}  // namespace e2e
