// Installer context files for end-to-end tests: the ten fields with values
// that fit Wine's user, in the form setup's context run writes them.
#pragma once

#include "wine_session.h"

#include <string>
#include <string_view>

namespace e2e {

struct ContextFile {
    std::string sid = std::string(wine_user_sid);
    std::string temp = "C:\\users\\root\\Temp";
    std::string desktop = "C:\\users\\root\\Desktop";
    std::string programs = "C:\\users\\root\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
    std::string local = "C:\\users\\root\\AppData\\Local";
    std::string roaming = "C:\\users\\root\\AppData\\Roaming";
    std::string directory = "C:\\Games\\Quillmora Launcher";
    std::string scope = "user";
    std::string legacy = "0";
    std::string elevate = "0";

    // "[context]" and one "key=value" line per field in the written order,
    // every line ending with `line_end`; UTF-8.
    std::string text(std::string_view line_end = "\r\n") const;
    // The written form: FF FE, then text() in UTF-16LE.
    std::string written() const;
};

// FF FE (unless left out) and the UTF-16LE code units of a UTF-8 (or WTF-8) text.
std::string utf16le(std::string_view text, bool byte_order_mark = true);

// REG_SZ data of a UTF-8 text, terminator included.
std::string string_data(std::string_view text);

// Bytes as lowercase hexadecimal digits, two a byte, as the registry tool takes them.
std::string hex(std::string_view bytes);

}  // namespace e2e
