#include "text_encoding.h"

#include <cstdint>

namespace installer_helper {
namespace {

constexpr char32_t replacement_character = 0xFFFD;

bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool is_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

void append_code_point(std::string& out, char32_t code_point) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
}

void append_utf16(std::u16string& out, char32_t code_point) {
    if (code_point < 0x10000) {
        out.push_back(static_cast<char16_t>(code_point));
    } else {
        const char32_t offset = code_point - 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
    }
}

// Walks UTF-16 as code points; an unpaired surrogate is reported as itself.
template <typename Visit>
void for_each_utf16_code_point(std::u16string_view text, Visit visit) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (is_high_surrogate(unit) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            visit(0x10000 + ((unit - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
            ++i;
        } else {
            visit(unit);
        }
    }
}

struct Decoded {
    char32_t code_point;
    std::size_t length;  // 0 when the bytes are malformed
};

// Decodes one generalised UTF-8 sequence, surrogate code points included.
Decoded decode_wtf8(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(at);
    std::size_t length = 0;
    char32_t code_point = 0;
    char32_t minimum = 0;
    if (lead < 0x80) return {lead, 1};
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code_point = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code_point = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code_point = lead & 0x07, minimum = 0x10000;
    } else {
        return {0, 0};
    }
    if (at + length > bytes.size()) return {0, 0};
    for (std::size_t i = 1; i < length; ++i) {
        const std::uint8_t next = byte(at + i);
        if ((next & 0xC0) != 0x80) return {0, 0};
        code_point = (code_point << 6) | (next & 0x3F);
    }
    if (code_point < minimum || code_point > 0x10FFFF) return {0, 0};
    return {code_point, length};
}

}  // namespace

std::string wtf8_from_utf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for_each_utf16_code_point(text, [&](char32_t code_point) { append_code_point(out, code_point); });
    return out;
}

std::u16string utf16_from_wtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Decoded decoded = decode_wtf8(text, i);
        if (decoded.length == 0) {
            out.push_back(static_cast<char16_t>(replacement_character));
            ++i;
            continue;
        }
        append_utf16(out, decoded.code_point);
        i += decoded.length;
    }
    return out;
}

std::optional<std::string> utf8_from_utf16(std::u16string_view text) {
    bool valid = true;
    std::string out;
    out.reserve(text.size());
    for_each_utf16_code_point(text, [&](char32_t code_point) {
        if (is_surrogate(code_point)) valid = false;
        append_code_point(out, code_point);
    });
    if (!valid) return std::nullopt;
    return out;
}

std::string utf8_from_utf16_lossy(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for_each_utf16_code_point(text, [&](char32_t code_point) {
        append_code_point(out, is_surrogate(code_point) ? replacement_character : code_point);
    });
    return out;
}

bool is_valid_utf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const Decoded decoded = decode_wtf8(bytes, i);
        if (decoded.length == 0 || is_surrogate(decoded.code_point)) return false;
        i += decoded.length;
    }
    return true;
}

std::size_t utf16_length(std::string_view wtf8) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < wtf8.size();) {
        const Decoded decoded = decode_wtf8(wtf8, i);
        if (decoded.length == 0) {
            ++units;
            ++i;
            continue;
        }
        units += decoded.code_point >= 0x10000 ? 2 : 1;
        i += decoded.length;
    }
    return units;
}

}  // namespace installer_helper
