// Any UTF-16 command line: the helper either takes arguments that keep every
// rule, or ends with one line of UTF-8 for setup. The arguments split from a
// line come back unchanged when quoted by the Windows rules and split again,
// so the splitter reads each argument as Windows programs write it.
#include "command_line.h"
#include "fuzz_check.h"
#include "outcome.h"
#include "text_encoding.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace installer_helper;

namespace {

// Every argument in quotes; backslashes are doubled only before a quote.
void append_quoted(std::u16string& line, const std::u16string& argument) {
    line += u" \"";
    std::size_t backslashes = 0;
    for (const char16_t unit : argument) {
        if (unit == u'\\') {
            ++backslashes;
            continue;
        }
        line.append(unit == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
        backslashes = 0;
        line.push_back(unit);
    }
    line.append(2 * backslashes, u'\\');
    line += u'"';
}

bool is_clean_value(const std::optional<std::string>& value) {
    return !value || (is_valid_utf8(*value) &&
                      value->find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string line(size / 2, u'\0');
    for (std::size_t i = 0; i < line.size(); ++i)
        line[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));

    const std::vector<std::u16string> arguments = split_command_line(line);
    std::u16string quoted = u"helper.exe";
    for (const std::u16string& argument : arguments) append_quoted(quoted, argument);
    FUZZ_REQUIRE(split_command_line(quoted) == arguments);

    const Result<InstallerArguments> parsed = parse_arguments(arguments);
    if (parsed) {
        FUZZ_REQUIRE(!parsed->output.empty() && is_clean_value(parsed->output));
        for (const auto* value : {&parsed->directory, &parsed->original_sid,
                                  &parsed->original_temp, &parsed->nonce})
            FUZZ_REQUIRE(!value->has_value() || (!(*value)->empty() && is_clean_value(*value)));
        return 0;
    }
    const RunReport report = report_for(Result<ActionOutcome>(std::unexpected(parsed.error())));
    FUZZ_REQUIRE(report.status == exit_status_error && report.line.size() > 1);
    FUZZ_REQUIRE(is_valid_utf8(report.line));
    FUZZ_REQUIRE(report.line.find_first_of("\r\n") == report.line.size() - 1);
    return 0;
}
