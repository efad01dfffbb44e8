#include "installer_context.h"

#include "text_encoding.h"
#include "windows/entry_handle.h"
#include "windows/file_io.h"
#include "windows/installation_path.h"
#include "windows/pinned_directory.h"
#include "windows/reparse_points.h"

#include <array>
#include "message_format.h"
#include <optional>
#include <vector>

namespace installer_helper {
namespace {

enum Field { sid_field, temp_field, desktop_field, programs_field, local_field, roaming_field,
             directory_field, scope_field, legacy_field, elevate_field, field_count };

// The keys, in the order the file is written and the fields are taken.
constexpr std::array<std::string_view, field_count> KEYS = {
    "sid", "temp", "desktop", "programs", "local", "roaming", "directory", "scope", "legacy",
    "elevate"};

constexpr std::string_view header = "[context]";
constexpr std::string_view byte_order_mark_utf8 = "\xEF\xBB\xBF";
constexpr std::size_t value_unit_limit = 1000;  // a value has fewer UTF-16 units than this

// Valid Unicode too: a value the reader could not take back unchanged is
// never written.
bool passes_value_rule(std::string_view value) {
    return !value.empty() && is_valid_unicode(value) && utf16_length(value) < value_unit_limit &&
           value.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

Result<> check_value(std::string_view value) {
    if (!passes_value_rule(value))
        return fail("An installer context value is empty, too long, or malformed.");
    return {};
}

Result<> check_path(std::string_view path) {
    if (!is_valid_unicode(path)) return fail("Installer paths must contain valid Unicode.");
    return check_value(path);
}

Result<std::string> decode_text(std::string_view bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        if (bytes.size() % 2 != 0) return fail("The installer context has invalid UTF-16 encoding.");
        std::u16string units;
        units.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i < bytes.size(); i += 2) {
            units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                  (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        }
        auto text = utf8_from_utf16(units);
        if (!text) return fail("The installer context has invalid UTF-16 encoding.");
        return std::move(*text);
    }
    if (!is_valid_utf8(bytes)) return fail("The installer context has invalid UTF-8 encoding.");
    return std::string(bytes);
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            lines.push_back(text);  // a last line without a line ending
            break;
        }
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(end + 1);
    }
    return lines;
}

Result<bool> flag_value(std::string_view value) {
    if (value == "1") return true;
    if (value == "0") return false;
    return fail("Invalid installer context flag.");
}

}  // namespace

Result<InstallerContext> read_installer_context(std::string_view path) {
    const auto size = file_size(path);
    if (!size) return fail(format_message("Could not read the installer context: {}", size.error().text()));
    if (*size > installer_context_size_limit) return fail("The installer context is too large.");
    const auto bytes = read_file_prefix(path, installer_context_size_limit + 1);
    if (!bytes) return fail(format_message("Could not read the installer context: {}", bytes.error().text()));
    if (bytes->size() > installer_context_size_limit) return fail("The installer context is too large.");
    return decode_installer_context(*bytes);
}

Result<InstallerContext> decode_installer_context(std::string_view bytes) {
    const auto decoded = decode_text(bytes);
    if (!decoded) return std::unexpected(decoded.error());
    std::string_view text = *decoded;
    while (text.starts_with(byte_order_mark_utf8)) text.remove_prefix(byte_order_mark_utf8.size());

    const std::vector<std::string_view> lines = split_lines(text);
    if (lines.empty() || lines[0] != header) return fail("The installer context header is missing.");

    std::array<std::optional<std::string_view>, field_count> values;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::size_t equals = lines[i].find('=');
        if (equals == std::string_view::npos) return fail("Malformed installer context.");
        const std::string_view key = lines[i].substr(0, equals);
        const std::string_view value = lines[i].substr(equals + 1);
        std::size_t field = 0;
        while (field < field_count && KEYS[field] != key) ++field;
        if (field == field_count) return fail("Unexpected installer context field.");
        if (auto checked = check_value(value); !checked) return std::unexpected(checked.error());
        if (values[field]) return fail("Duplicate installer context field.");
        values[field] = value;
    }

    InstallerContext context;
    std::array<std::string*, scope_field> texts = {&context.sid,      &context.temp,
                                                   &context.desktop,  &context.programs,
                                                   &context.local,    &context.roaming,
                                                   &context.directory};
    for (std::size_t field = 0; field < field_count; ++field) {
        if (!values[field])
            return fail(format_message("Missing installer context field: {}", KEYS[field]));
        const std::string_view value = *values[field];
        if (field < scope_field) {
            *texts[field] = std::string(value);
        } else if (field == scope_field) {
            const auto scope = scope_from_text(value);
            if (!scope) return fail("Invalid installer registry scope.");
            context.scope = *scope;
        } else {
            const auto flag = flag_value(value);
            if (!flag) return std::unexpected(flag.error());
            (field == legacy_field ? context.legacy : context.elevate) = *flag;
        }
    }
    return context;
}

Result<std::string> encode_installer_context(const InstallerContext& context) {
    if (auto checked = check_value(context.sid); !checked) return std::unexpected(checked.error());
    for (const std::string* path : {&context.temp, &context.desktop, &context.programs,
                                    &context.local, &context.roaming, &context.directory}) {
        if (auto checked = check_path(*path); !checked) return std::unexpected(checked.error());
    }

    const std::array<std::string_view, field_count> values = {
        context.sid,      context.temp,    context.desktop,
        context.programs, context.local,   context.roaming,
        context.directory, scope_text(context.scope),
        context.legacy ? "1" : "0", context.elevate ? "1" : "0"};
    std::string text = std::string(header) + "\r\n";
    for (std::size_t field = 0; field < field_count; ++field)
        text += format_message("{}={}\r\n", KEYS[field], values[field]);

    const std::u16string units = utf16_from_wtf8(text);
    std::string bytes = "\xFF\xFE";
    bytes.reserve(2 + units.size() * 2);
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

namespace {

Result<> cannot_save(const IoError& error) {
    return fail(format_message("Could not save the installer context: {}", error.text()));
}

// The file is setup's, often in a folder the user may write to: it is
// written only where the checked path leads, through a handle to a plain
// file of its own, so that no junction or link planted since the check
// carries the bytes anywhere else. A failure leaves the earlier bytes.
Result<> write_in_place(std::string_view path, std::string_view bytes) {
    const std::vector<std::string> directories = directories_from_root(path);
    auto pins = PinnedPath::from_root(
        directories.size() > 1 ? std::string_view(directories[directories.size() - 2]) : path);
    if (!pins) return std::unexpected(pins.error());
    if (!pins->complete()) return cannot_save(IoError{pins->missing_error(), {}});
    if (auto checked = ensure_no_reparse_points(path); !checked) return checked;

    auto file = EntryHandle::open_or_create(path, win::GENERIC_WRITE);
    if (!file) return cannot_save(file.error());
    if (file->kind() == PathKind::ReparsePoint)
        return fail("A junction or symbolic link cannot be modified by setup.");
    // A directory, or a file that is also known by another name, is not a
    // file of setup's own: refused as Windows refuses to replace either.
    const IoError refused{win::ERROR_ACCESS_DENIED, {}};
    if (file->kind() != PathKind::RegularFile) return cannot_save(refused);
    const auto links = file->link_count();
    if (!links) return cannot_save(links.error());
    if (*links != 1) return cannot_save(refused);
    if (auto emptied = file->truncate(); !emptied) return cannot_save(emptied.error());
    if (auto written = write_all(file->get(), bytes); !written) return cannot_save(written.error());
    return {};
}

}  // namespace

Result<> write_installer_context(std::string_view path, const InstallerContext& context) {
    const auto bytes = encode_installer_context(context);
    if (!bytes) return std::unexpected(bytes.error());
    return write_in_place(path, *bytes);
}

Result<std::string> resolve_action_directory(std::string_view directory,
                                             const InstallerContext& context) {
    auto normalised = normalize_installation_path(directory);
    if (!normalised) return std::unexpected(normalised.error());
    if (!same_installation_path(*normalised, context.directory))
        return fail("The installation directory differs from setup's context.");
    return std::move(*normalised);
}

}  // namespace installer_helper
