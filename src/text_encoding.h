// Conversions between the helper's inner text form and UTF-16.
//
// Inside the helper, text is UTF-8 in std::string. A platform string (from the
// command line, the environment or a file name) may hold unpaired UTF-16
// surrogates; it is then held as WTF-8, where each unpaired surrogate is the
// three-byte sequence that UTF-8 would give its code point. Valid Unicode
// text never holds such a sequence.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace installer_helper {

// UTF-16 (possibly ill-formed) to WTF-8. Never fails.
std::string wtf8_from_utf16(std::u16string_view text);

// WTF-8 to UTF-16; unpaired surrogates are carried over unchanged. The input
// must be WTF-8 produced by this module or valid UTF-8; malformed bytes become
// U+FFFD.
std::u16string utf16_from_wtf8(std::string_view text);

// UTF-16 to UTF-8, refusing unpaired surrogates.
std::optional<std::string> utf8_from_utf16(std::u16string_view text);

// UTF-16 to UTF-8 with every unpaired surrogate replaced by U+FFFD.
std::string utf8_from_utf16_lossy(std::u16string_view text);

// Strict UTF-8 check: no overlong forms, no surrogate code points, nothing
// above U+10FFFF.
bool is_valid_utf8(std::string_view bytes);

// Whether a WTF-8 string is valid Unicode (holds no encoded surrogate).
inline bool is_valid_unicode(std::string_view wtf8) { return is_valid_utf8(wtf8); }

// Number of UTF-16 code units that the WTF-8 text encodes to.
std::size_t utf16_length(std::string_view wtf8);

}  // namespace installer_helper
