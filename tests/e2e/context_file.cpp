#include "context_file.h"

#include "text_encoding.h"

#include <cstdio>

namespace e2e {

std::string ContextFile::text(std::string_view line_end) const {
    const std::pair<std::string_view, const std::string*> fields[] = {
        {"sid", &sid},         {"temp", &temp},   {"desktop", &desktop},
        {"programs", &programs}, {"local", &local}, {"roaming", &roaming},
        {"directory", &directory}, {"scope", &scope}, {"legacy", &legacy},
        {"elevate", &elevate}};
    std::string text = "[context]" + std::string(line_end);
    for (const auto& [key, value] : fields)
        text += std::string(key) + "=" + *value + std::string(line_end);
    return text;
}

std::string ContextFile::written() const { return utf16le(text()); }

std::string utf16le(std::string_view text, bool byte_order_mark) {
    std::string bytes = byte_order_mark ? "\xFF\xFE" : "";
    for (const char16_t unit : installer_helper::utf16_from_wtf8(text)) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

std::string string_data(std::string_view text) {
    return utf16le(text, false) + std::string(2, '\0');
}

std::string hex(std::string_view bytes) {
    std::string text;
    for (const unsigned char byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

}  // namespace e2e
