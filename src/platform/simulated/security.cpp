#include "platform/simulated/security.h"

#include <array>
#include <limits>
#include <span>
#include <utility>

namespace sim {
namespace {

using Failure = std::unexpected<win::DWORD>;

struct Token {
    std::u16string_view text;
    std::uint32_t value;
};

constexpr std::array<Token, 4> ACE_TYPES = {{
    {u"A", ACCESS_ALLOWED_ACE_TYPE},
    {u"D", ACCESS_DENIED_ACE_TYPE},
    {u"AU", SYSTEM_AUDIT_ACE_TYPE},
    {u"AL", SYSTEM_ALARM_ACE_TYPE},
}};

constexpr std::array<Token, 7> ACE_FLAGS = {{
    {u"OI", OBJECT_INHERIT_ACE},
    {u"CI", CONTAINER_INHERIT_ACE},
    {u"NP", NO_PROPAGATE_INHERIT_ACE},
    {u"IO", INHERIT_ONLY_ACE},
    {u"ID", INHERITED_ACE},
    {u"SA", SUCCESSFUL_ACCESS_ACE_FLAG},
    {u"FA", FAILED_ACCESS_ACE_FLAG},
}};

constexpr std::array<Token, 28> ACCESS_RIGHTS = {{
    {u"GA", 0x10000000}, {u"GR", 0x80000000}, {u"GW", 0x40000000}, {u"GX", 0x20000000},
    {u"RC", 0x00020000}, {u"SD", 0x00010000}, {u"WD", 0x00040000}, {u"WO", 0x00080000},
    {u"RP", 0x00000010}, {u"WP", 0x00000020}, {u"CC", 0x00000001}, {u"DC", 0x00000002},
    {u"LC", 0x00000004}, {u"SW", 0x00000008}, {u"LO", 0x00000080}, {u"DT", 0x00000040},
    {u"CR", 0x00000100}, {u"FA", FILE_ALL_ACCESS}, {u"FR", 0x00120089}, {u"FW", 0x00120116},
    {u"FX", 0x001200A0}, {u"KA", 0x000F003F}, {u"KR", 0x00020019}, {u"KW", 0x00020006},
    {u"KX", 0x00020019}, {u"NR", 0x00000001}, {u"NW", 0x00000002}, {u"NX", 0x00000004},
}};

constexpr std::array<Token, 3> ACL_FLAGS = {{
    {u"P", 0},  // protected: SE_DACL_PROTECTED or SE_SACL_PROTECTED
    {u"AI", 1},  // auto-inherited
    {u"AR", 2},  // auto-inherit required
}};

std::optional<std::uint32_t> lookup(std::u16string_view text, std::span<const Token> table) {
    for (const Token& token : table)
        if (token.text == text) return token.value;
    return std::nullopt;
}

// A run of two-letter tokens, their values OR-ed together.
std::optional<std::uint32_t> token_run(std::u16string_view text, std::span<const Token> table) {
    std::uint32_t value = 0;
    while (!text.empty()) {
        if (text.size() < 2) return std::nullopt;
        const auto token = lookup(text.substr(0, 2), table);
        if (!token) return std::nullopt;
        value |= *token;
        text.remove_prefix(2);
    }
    return value;
}

// A number as the C library's strtoul reads it with base 0: "0x" hexadecimal,
// a leading "0" octal, else decimal. Overflow is refused.
std::optional<std::uint32_t> parse_number(std::u16string_view text) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == u'0') {
        base = 8;
    }
    std::uint64_t value = 0;
    for (char16_t unit : text) {
        unsigned digit = 0;
        if (unit >= u'0' && unit <= u'9') digit = unit - u'0';
        else if (unit >= u'a' && unit <= u'f') digit = unit - u'a' + 10;
        else if (unit >= u'A' && unit <= u'F') digit = unit - u'A' + 10;
        else return std::nullopt;
        if (digit >= base) return std::nullopt;
        value = value * base + digit;
        if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> parse_rights(std::u16string_view text) {
    if (!text.empty() && text[0] >= u'0' && text[0] <= u'9') return parse_number(text);
    return token_run(text, ACCESS_RIGHTS);
}

std::vector<std::u16string_view> split_fields(std::u16string_view text) {
    std::vector<std::u16string_view> fields;
    while (true) {
        const std::size_t end = text.find(u';');
        fields.push_back(text.substr(0, end));
        if (end == std::u16string_view::npos) return fields;
        text.remove_prefix(end + 1);
    }
}

// "type;flags;rights;object_guid;inherit_object_guid;sid", without parentheses.
std::expected<AccessControlEntry, win::DWORD> parse_entry(std::u16string_view text) {
    const auto fields = split_fields(text);
    if (fields.size() != 6) return Failure(win::ERROR_INVALID_ACL);
    const auto type = lookup(fields[0], ACE_TYPES);
    const auto flags = token_run(fields[1], ACE_FLAGS);
    const auto rights = parse_rights(fields[2]);
    const auto sid = parse_sid_text(fields[5]);
    if (!type || !flags || !rights || !fields[3].empty() || !fields[4].empty() || !sid)
        return Failure(win::ERROR_INVALID_ACL);
    return AccessControlEntry{static_cast<std::uint8_t>(*type), static_cast<std::uint8_t>(*flags),
                              *rights, *sid};
}

// Where a component tag "O:", "G:", "D:" or "S:" starts at `at`.
bool is_component_tag(std::u16string_view text, std::size_t at) {
    return at + 1 < text.size() && text[at + 1] == u':' &&
           (text[at] == u'O' || text[at] == u'G' || text[at] == u'D' || text[at] == u'S');
}

struct ParsedAcl {
    std::uint16_t control = 0;
    std::vector<AccessControlEntry> entries;
};

// An ACL after its "D:" or "S:" tag: flags, then "(entry)" groups up to the
// next component. `flag_bits` are this list's control bits for P, AI and AR.
std::expected<ParsedAcl, win::DWORD> parse_acl(std::u16string_view& rest,
                                               std::array<std::uint16_t, 3> flag_bits) {
    ParsedAcl acl;
    while (!rest.empty() && rest[0] != u'(' && !is_component_tag(rest, 0)) {
        const std::size_t length = rest[0] == u'P' ? 1 : 2;
        const auto flag = rest.size() >= length ? lookup(rest.substr(0, length), ACL_FLAGS)
                                                : std::nullopt;
        if (!flag) return Failure(win::ERROR_INVALID_ACL);
        acl.control |= flag_bits[*flag];
        rest.remove_prefix(length);
    }
    while (!rest.empty() && rest[0] == u'(') {
        const std::size_t close = rest.find(u')');
        if (close == std::u16string_view::npos) return Failure(win::ERROR_INVALID_ACL);
        auto entry = parse_entry(rest.substr(1, close - 1));
        if (!entry) return Failure(entry.error());
        acl.entries.push_back(std::move(*entry));
        rest.remove_prefix(close + 1);
    }
    if (!rest.empty() && !is_component_tag(rest, 0)) return Failure(win::ERROR_INVALID_ACL);
    return acl;
}

// An owner or group SID: the text up to the next component tag.
std::expected<Sid, win::DWORD> parse_component_sid(std::u16string_view& rest) {
    std::size_t end = 0;
    while (end < rest.size() && !is_component_tag(rest, end)) ++end;
    const auto sid = parse_sid_text(rest.substr(0, end));
    if (!sid) return Failure(win::ERROR_INVALID_SID);
    rest.remove_prefix(end);
    return *sid;
}

std::size_t sid_size(const Sid& sid) { return 8 + 4 * sid.sub_authorities.size(); }

std::size_t acl_size(const std::vector<AccessControlEntry>& entries) {
    std::size_t size = 8;  // the ACL header
    for (const AccessControlEntry& entry : entries) size += 8 + sid_size(entry.sid);
    return size;
}

}  // namespace

std::expected<SecurityDescriptor, win::DWORD> parse_security_descriptor(std::u16string_view sddl) {
    SecurityDescriptor descriptor;
    std::u16string_view rest = sddl;
    while (!rest.empty()) {
        if (!is_component_tag(rest, 0)) return Failure(win::ERROR_INVALID_PARAMETER);
        const char16_t tag = rest[0];
        rest.remove_prefix(2);
        if (tag == u'O' || tag == u'G') {
            auto sid = parse_component_sid(rest);
            if (!sid) return Failure(sid.error());
            (tag == u'O' ? descriptor.owner : descriptor.group) = std::move(*sid);
        } else if (tag == u'D') {
            auto acl = parse_acl(rest, {SE_DACL_PROTECTED, SE_DACL_AUTO_INHERITED,
                                        SE_DACL_AUTO_INHERIT_REQ});
            if (!acl) return Failure(acl.error());
            descriptor.control |= SE_DACL_PRESENT | acl->control;
            descriptor.dacl = std::move(acl->entries);
        } else {
            auto acl = parse_acl(rest, {SE_SACL_PROTECTED, SE_SACL_AUTO_INHERITED,
                                        SE_SACL_AUTO_INHERIT_REQ});
            if (!acl) return Failure(acl.error());
            descriptor.control |= SE_SACL_PRESENT | acl->control;
            descriptor.sacl = std::move(acl->entries);
        }
    }
    return descriptor;
}

void PrintTo(const SecurityDescriptor& descriptor, std::ostream* out) {
    const auto sid_text = [](const Sid& sid) {
        const std::u16string text = format_sid(sid);
        return std::string(text.begin(), text.end());
    };
    const auto print_acl = [&](const std::vector<AccessControlEntry>& entries) {
        for (const AccessControlEntry& entry : entries)
            *out << "(type " << int(entry.type) << ";flags 0x" << std::hex << int(entry.flags)
                 << ";0x" << entry.mask << std::dec << ";" << sid_text(entry.sid) << ")";
    };
    *out << "control 0x" << std::hex << descriptor.control << std::dec;
    if (descriptor.owner) *out << " O:" << sid_text(*descriptor.owner);
    if (descriptor.group) *out << " G:" << sid_text(*descriptor.group);
    if (descriptor.control & SE_DACL_PRESENT) {
        *out << " D:";
        print_acl(descriptor.dacl);
    }
    if (descriptor.control & SE_SACL_PRESENT) {
        *out << " S:";
        print_acl(descriptor.sacl);
    }
}

std::size_t self_relative_size(const SecurityDescriptor& descriptor) {
    std::size_t size = 20;  // revision, control and the four offsets
    if (descriptor.owner) size += sid_size(*descriptor.owner);
    if (descriptor.group) size += sid_size(*descriptor.group);
    if (descriptor.control & SE_DACL_PRESENT) size += acl_size(descriptor.dacl);
    if (descriptor.control & SE_SACL_PRESENT) size += acl_size(descriptor.sacl);
    return size;
}

}  // namespace sim
