#include "command_line.h"

#include "text_encoding.h"

#include <algorithm>
#include <array>
#include "message_format.h"
#include <utility>

namespace installer_helper {
namespace {

constexpr std::array<std::pair<std::string_view, Action>, 7> ACTIONS = {{
    {"context", Action::Context},
    {"begin", Action::Begin},
    {"stop", Action::Stop},
    {"rollback", Action::Rollback},
    {"commit", Action::Commit},
    {"validate-launch", Action::ValidateLaunch},
    {"prepare-verification", Action::PrepareVerification},
}};

// The options that take a value; -Uninstall is the one flag.
enum ValueOption { action_option, output_option, directory_option, original_sid_option,
                   original_temp_option, nonce_option, value_option_count };
constexpr std::array<std::string_view, value_option_count> VALUE_OPTIONS = {
    "-Action", "-Output", "-Directory", "-OriginalSid", "-OriginalTemp", "-Nonce"};
constexpr std::string_view uninstall_flag = "-Uninstall";

bool is_blank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

Result<std::string> unicode_text(const std::u16string& argument) {
    auto text = utf8_from_utf16(argument);
    if (!text) return fail("Installer arguments must contain valid Unicode.");
    return std::move(*text);
}

std::optional<std::string> non_empty(const std::optional<std::string>& value) {
    if (value && value->empty()) return std::nullopt;
    return value;
}

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line) {
    // Argument 0, the program's path: quotes group, nothing escapes.
    std::size_t i = 0;
    bool in_quotes = false;
    for (; i < line.size(); ++i) {
        if (line[i] == u'"') in_quotes = !in_quotes;
        else if (is_blank(line[i]) && !in_quotes) break;
    }

    std::vector<std::u16string> arguments;
    std::u16string current;
    bool started = false;  // an argument is under way, even an empty quoted one
    std::size_t backslashes = 0;
    in_quotes = false;
    const auto flush_backslashes = [&] {
        if (backslashes == 0) return;
        current.append(backslashes, u'\\');
        backslashes = 0;
        started = true;
    };
    for (; i < line.size(); ++i) {
        const char16_t unit = line[i];
        if (unit == u'\\') {
            ++backslashes;
            continue;
        }
        if (unit == u'"') {
            // 2n backslashes before a quote are n backslashes and a quote
            // that groups; 2n + 1 are n backslashes and a literal quote.
            current.append(backslashes / 2, u'\\');
            const bool escaped = backslashes % 2 == 1;
            backslashes = 0;
            started = true;
            if (escaped) {
                current.push_back(u'"');
            } else if (in_quotes && i + 1 < line.size() && line[i + 1] == u'"') {
                current.push_back(u'"');  // "" inside quotes: a literal quote
                ++i;
            } else {
                in_quotes = !in_quotes;
            }
            continue;
        }
        flush_backslashes();
        if (is_blank(unit) && !in_quotes) {
            if (started) arguments.push_back(std::exchange(current, {}));
            started = false;
            continue;
        }
        current.push_back(unit);
        started = true;
    }
    flush_backslashes();
    if (started) arguments.push_back(std::move(current));
    return arguments;
}

Result<InstallerArguments> parse_arguments(const std::vector<std::u16string>& arguments) {
    std::array<std::optional<std::string>, value_option_count> values;
    bool uninstall = false;

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        auto name = unicode_text(arguments[i]);
        if (!name) return std::unexpected(name.error());
        if (*name == uninstall_flag) {
            if (uninstall) return fail("Duplicate installer argument: -Uninstall");
            uninstall = true;
            continue;
        }
        std::size_t option = 0;
        while (option < VALUE_OPTIONS.size() && VALUE_OPTIONS[option] != *name) ++option;
        if (option == VALUE_OPTIONS.size())
            return fail(format_message("Unknown installer argument: {}", *name));
        if (i + 1 == arguments.size())
            return fail(format_message("Missing value for installer argument: {}", *name));
        auto value = unicode_text(arguments[++i]);
        if (!value) return std::unexpected(value.error());
        if (value->find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos)
            return fail("Invalid installer argument value.");
        if (values[option]) return fail(format_message("Duplicate installer argument: {}", *name));
        values[option] = std::move(*value);
    }

    InstallerArguments parsed;
    const auto& action_text = values[action_option];
    const auto action = std::find_if(ACTIONS.begin(), ACTIONS.end(), [&](const auto& entry) {
        return action_text && entry.first == *action_text;
    });
    if (action == ACTIONS.end()) return fail("A supported installer action is required.");
    parsed.action = action->second;

    if (!values[output_option] || values[output_option]->empty())
        return fail("The installer context path is required.");
    parsed.output = *values[output_option];

    parsed.directory = non_empty(values[directory_option]);
    parsed.nonce = non_empty(values[nonce_option]);
    const bool needs_directory = parsed.action == Action::Begin || parsed.action == Action::Stop ||
                                 parsed.action == Action::Rollback ||
                                 parsed.action == Action::Commit;
    if (needs_directory && !parsed.directory)
        return fail("The installation directory is required for this action.");
    if (parsed.action == Action::PrepareVerification && !parsed.nonce)
        return fail("The verification identifier is required.");

    parsed.original_sid = non_empty(values[original_sid_option]);
    parsed.original_temp = non_empty(values[original_temp_option]);
    parsed.uninstall = uninstall;
    return parsed;
}

}  // namespace installer_helper
