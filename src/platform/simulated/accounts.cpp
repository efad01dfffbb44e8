#include "platform/simulated/accounts.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace sim {
namespace {

struct Alias {
    std::u16string_view name;
    std::uint64_t authority;
    std::vector<std::uint32_t> sub_authorities;
};

const std::vector<Alias>& aliases() {
    static const std::vector<Alias> table = {
        {u"SY", 5, {18}},      {u"LS", 5, {19}},      {u"NS", 5, {20}},
        {u"BA", 5, {32, 544}}, {u"BU", 5, {32, 545}}, {u"WD", 1, {0}},
        // The other aliases that name the same account on every machine.
        {u"AN", 5, {7}},       {u"AO", 5, {32, 548}}, {u"AU", 5, {11}},
        {u"BG", 5, {32, 546}}, {u"BO", 5, {32, 551}}, {u"CG", 3, {1}},
        {u"CO", 3, {0}},       {u"ED", 5, {9}},       {u"IU", 5, {4}},
        {u"NO", 5, {32, 556}}, {u"NU", 5, {2}},       {u"OW", 3, {4}},
        {u"PO", 5, {32, 550}}, {u"PS", 5, {10}},      {u"PU", 5, {32, 547}},
        {u"RC", 5, {12}},      {u"RD", 5, {32, 555}}, {u"RE", 5, {32, 552}},
        {u"RU", 5, {32, 554}}, {u"SO", 5, {32, 549}}, {u"SU", 5, {6}},
        {u"WR", 5, {33}},
    };
    return table;
}

std::optional<std::uint64_t> parse_number(std::u16string_view text, std::uint64_t limit) {
    if (text.empty()) return std::nullopt;
    unsigned base = 10;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t value = 0;
    for (char16_t unit : text) {
        unsigned digit = 0;
        if (unit >= u'0' && unit <= u'9') {
            digit = unit - u'0';
        } else if (base == 16 && unit >= u'a' && unit <= u'f') {
            digit = unit - u'a' + 10;
        } else if (base == 16 && unit >= u'A' && unit <= u'F') {
            digit = unit - u'A' + 10;
        } else {
            return std::nullopt;
        }
        if (value > (limit - digit) / base) return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

}  // namespace

std::optional<Sid> parse_sid_text(std::u16string_view text) {
    for (const Alias& alias : aliases())
        if (text == alias.name) return Sid{alias.authority, alias.sub_authorities};
    if (text.size() < 2 || (text[0] != u'S' && text[0] != u's') || text[1] != u'-')
        return std::nullopt;
    std::vector<std::u16string_view> pieces;
    std::size_t start = 2;
    while (true) {
        const std::size_t dash = text.find(u'-', start);
        pieces.push_back(text.substr(start, dash == std::u16string_view::npos ? dash : dash - start));
        if (dash == std::u16string_view::npos) break;
        start = dash + 1;
    }
    // Revision, authority and one to fifteen sub-authorities: "S-1-5" alone
    // is refused.
    if (pieces.size() < 3 || pieces.size() > 17) return std::nullopt;
    const auto revision = parse_number(pieces[0], 255);
    if (!revision || *revision != 1) return std::nullopt;
    const auto authority = parse_number(pieces[1], (std::uint64_t{1} << 48) - 1);
    if (!authority) return std::nullopt;
    Sid sid{*authority, {}};
    for (std::size_t i = 2; i < pieces.size(); ++i) {
        const auto sub = parse_number(pieces[i], std::numeric_limits<std::uint32_t>::max());
        if (!sub) return std::nullopt;
        sid.sub_authorities.push_back(static_cast<std::uint32_t>(*sub));
    }
    return sid;
}

std::u16string format_sid(const Sid& sid) {
    std::string text = "S-1-";
    if (sid.authority >= (std::uint64_t{1} << 32)) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "0x%012llX",
                      static_cast<unsigned long long>(sid.authority));
        text += buffer;
    } else {
        text += std::to_string(sid.authority);
    }
    for (std::uint32_t sub : sid.sub_authorities) text += "-" + std::to_string(sub);
    return std::u16string(text.begin(), text.end());
}

std::vector<std::uint8_t> sid_bytes(const Sid& sid) {
    std::vector<std::uint8_t> bytes{1, static_cast<std::uint8_t>(sid.sub_authorities.size())};
    for (int shift = 40; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(sid.authority >> shift));
    for (std::uint32_t sub : sid.sub_authorities)
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>(sub >> shift));
    return bytes;
}

std::optional<Sid> sid_from_bytes(const void* bytes) {
    if (bytes == nullptr) return std::nullopt;
    const auto* raw = static_cast<const std::uint8_t*>(bytes);
    if (raw[0] != 1 || raw[1] > 15) return std::nullopt;
    Sid sid;
    for (int i = 0; i < 6; ++i) sid.authority = (sid.authority << 8) | raw[2 + i];
    for (int i = 0; i < raw[1]; ++i) {
        std::uint32_t sub = 0;
        std::memcpy(&sub, raw + 8 + 4 * i, 4);
        sid.sub_authorities.push_back(sub);
    }
    return sid;
}

}  // namespace sim
