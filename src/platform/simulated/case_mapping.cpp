#include "platform/simulated/case_mapping.h"

namespace sim {

// Covers ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic: enough for
// the names tests use. Code units outside these ranges map to themselves.
char16_t upper_case(char16_t unit) {
    if (unit >= u'a' && unit <= u'z') return static_cast<char16_t>(unit - 0x20);
    if (unit < 0x80) return unit;
    if ((unit >= 0xE0 && unit <= 0xFE && unit != 0xF7)) return static_cast<char16_t>(unit - 0x20);
    if (unit == 0xFF) return 0x178;
    if (unit >= 0x100 && unit <= 0x17F && unit != 0x131 && unit != 0x138 && unit != 0x149 &&
        unit != 0x17F) {
        const bool odd_pairs = (unit >= 0x139 && unit <= 0x148) || (unit >= 0x179 && unit <= 0x17E);
        if (odd_pairs) return (unit % 2 == 0) ? static_cast<char16_t>(unit - 1) : unit;
        return (unit % 2 == 1) ? static_cast<char16_t>(unit - 1) : unit;
    }
    if (unit >= 0x3B1 && unit <= 0x3C9 && unit != 0x3C2) return static_cast<char16_t>(unit - 0x20);
    if (unit >= 0x430 && unit <= 0x44F) return static_cast<char16_t>(unit - 0x20);
    if (unit >= 0x450 && unit <= 0x45F) return static_cast<char16_t>(unit - 0x50);
    return unit;
}

std::u16string upper_case(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& unit : out) unit = upper_case(unit);
    return out;
}

bool equal_ignoring_case(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper_case(a[i]) != upper_case(b[i])) return false;
    return true;
}

}  // namespace sim
