// Writes the journal as compact JSON: members in declared order, no
// whitespace, strings with only the escapes JSON requires, so equal journals
// always give the same bytes.
#include "engine/journal.h"

#include "text_encoding.h"

#include <charconv>

namespace installer_helper {
namespace {

constexpr std::string_view serialize_failure = "Cannot serialize migration recovery journal.";

bool all_texts_valid(const Journal& journal) {
    if (!is_valid_unicode(journal.directory) || !is_valid_unicode(journal.sid)) return false;
    for (const std::string& binary : journal.binaries)
        if (!is_valid_unicode(binary)) return false;
    for (const RegistrySnapshot& snapshot : journal.registration) {
        if (!is_valid_unicode(snapshot.key)) return false;
        for (const RegistryValue& value : snapshot.values)
            if (!is_valid_unicode(value.name)) return false;
    }
    return true;
}

// Enough room for the whole document in one allocation: a data byte takes
// at most four characters, a text at most six per byte.
std::size_t size_estimate(const Journal& journal) {
    std::size_t size = 256 + 6 * (journal.directory.size() + journal.sid.size());
    for (const std::string& binary : journal.binaries) size += 8 + 6 * binary.size();
    for (const RegistrySnapshot& snapshot : journal.registration) {
        size += 64 + 6 * snapshot.key.size();
        for (const RegistryValue& value : snapshot.values)
            size += 64 + 6 * value.name.size() + 4 * value.data.size();
    }
    return size;
}

void append_number(std::string& out, std::uint32_t number) {
    char digits[10];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    out.append(digits, end);
}

void append_string(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

template <typename Item, typename AppendItem>
void append_list(std::string& out, const std::vector<Item>& items, AppendItem append_item) {
    out += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ',';
        append_item(out, items[i]);
    }
    out += ']';
}

void append_value(std::string& out, const RegistryValue& value) {
    out += "{\"name\":";
    append_string(out, value.name);
    out += ",\"kind\":";
    append_number(out, value.kind);
    out += ",\"data\":";
    append_list(out, value.data, [](std::string& o, std::uint8_t byte) { append_number(o, byte); });
    out += '}';
}

void append_snapshot(std::string& out, const RegistrySnapshot& snapshot) {
    out += "{\"key\":";
    append_string(out, snapshot.key);
    out += ",\"exists\":";
    out += snapshot.exists ? "true" : "false";
    out += ",\"values\":";
    append_list(out, snapshot.values, append_value);
    out += '}';
}

}  // namespace

Result<std::string> encode_journal(const Journal& journal) {
    if (!all_texts_valid(journal)) return fail(std::string(serialize_failure));
    std::string out;
    out.reserve(size_estimate(journal));
    out += "{\"version\":";
    append_number(out, journal.version);
    out += ",\"directory\":";
    append_string(out, journal.directory);
    out += ",\"stage\":";
    append_string(out, stage_text(journal.stage));
    out += ",\"scope\":";
    append_string(out, scope_text(journal.scope));
    out += ",\"sid\":";
    append_string(out, journal.sid);
    out += ",\"binaries\":";
    append_list(out, journal.binaries, append_string);
    out += ",\"registration\":";
    append_list(out, journal.registration, append_snapshot);
    out += '}';
    return out;
}

}  // namespace installer_helper
