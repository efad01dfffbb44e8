// The helper's splitter against Windows' own, on a few hundred generated
// command lines: Wine's CommandLineToArgvW for all of them, and the C
// runtime's argv (Wine's msvcrt) where the two rules are known to part. Where
// they part is listed in wine_differences.cpp; here every line is held to it.
#include "wine_differences.h"
#include "wine_test.h"

#include "command_line.h"

#include <cstdint>
#include <random>

namespace e2e {
namespace {

using installer_helper::split_command_line;
using Arguments = std::vector<std::u16string>;
using wine::Splitter;

// The pieces lines are made of, common ones listed more than once: letters,
// blanks, quotes and backslashes, the characters of option syntax, line
// breaks, non-ASCII text, a pair above U+FFFF and both kinds of lone surrogate.
const std::u16string_view PIECES[] = {
    u"a", u"b", u"a", u"b", u" ", u" ", u"\t", u"\"", u"\"", u"\"\"", u"\\", u"\\", u"\\", u"=",
    u"-", u"\u00E9", u"\u20AC", u"\U0001F600", u"\xD800", u"\xDC00", u"\n", u"\r",
};

// Forms of argument 0 that both rules read alike, when a blank follows.
const std::u16string_view PLAIN_PROGRAMS[] = {
    u"C:\\Quillmora\\installer-helper.exe",
    u"\"C:\\Program Files\\Quillmora\\installer-helper.exe\"",
    u"installer-helper",
};

// A fixed generator: the same lines on every machine and every run.
class LineMaker {
public:
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(engine_() % bound); }

    std::u16string text(std::size_t max_pieces) {
        std::u16string text;
        for (std::size_t count = below(max_pieces + 1); count > 0; --count)
            text += PIECES[below(std::size(PIECES))];
        return text;
    }

    std::u16string blanks() { return below(4) == 0 ? u"\t " : below(2) == 0 ? u" " : u"\t"; }

    std::u16string argument_zero() {
        // Letters, blanks, quotes and backslashes in any arrangement.
        static constexpr char16_t units[] = u"ab \"\\";
        std::u16string text;
        for (std::size_t count = below(9); count > 0; --count) text += units[below(5)];
        return text;
    }

private:
    std::mt19937 engine_{20240611u};
};

bool has_adjacent_quotes(std::u16string_view text) { return text.find(u"\"\"") != text.npos; }

// Whether argument 0, read as the helper reads it (quotes group up to the
// first blank outside them), holds an odd run of backslashes before a quote:
// Wine's msvcrt lets that escape the quote.
bool argument_zero_escapes_a_quote(std::u16string_view line) {
    bool quoted = false;
    std::size_t backslashes = 0;
    for (const char16_t unit : line) {
        if (unit == u'"') {
            if (backslashes % 2 == 1) return true;
            quoted = !quoted;
        } else if ((unit == u' ' || unit == u'\t') && !quoted) {
            return false;
        }
        backslashes = unit == u'\\' ? backslashes + 1 : 0;
    }
    return false;
}

std::u16string without_quotes(std::u16string_view program) {
    std::u16string text(program);
    std::erase(text, u'"');
    return text;
}

Arguments after_zero(const Arguments& arguments) {
    return arguments.empty() ? Arguments{} : Arguments(arguments.begin() + 1, arguments.end());
}

std::string shown(std::u16string_view line) {
    std::string out;
    char unit[12];
    for (const char16_t c : line) {
        if (c >= 0x20 && c < 0x7F && c != u'\\') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(unit, sizeof unit, "\\u%04X", static_cast<unsigned>(c));
            out += unit;
        }
    }
    return out;
}

std::string shown(const Arguments& arguments) {
    std::string out = "[";
    for (const std::u16string& argument : arguments) out += " <" + shown(argument) + ">";
    return out + " ]";
}

using CommandLineSplitDifferential = WineTest;

TEST_F(CommandLineSplitDifferential, AgreesWithWindowsExceptWhereListed) {
    constexpr std::size_t plain_lines = 320;
    constexpr std::size_t free_argument_zero_lines = 40;
    LineMaker maker;

    struct Line {
        std::u16string text;
        std::u16string program;  // the plain argument 0, or empty for a free one
    };
    std::vector<Line> lines;
    std::vector<wine::SplitRequest> requests;
    for (std::size_t i = 0; i < plain_lines; ++i) {
        const std::u16string program(PLAIN_PROGRAMS[maker.below(std::size(PLAIN_PROGRAMS))]);
        const std::u16string tail = maker.text(24);
        lines.push_back({program + maker.blanks() + tail, program});
    }
    for (std::size_t i = 0; i < free_argument_zero_lines; ++i)
        lines.push_back({maker.argument_zero() + maker.text(12), u""});

    // Which line's results sit where in the one batch.
    std::vector<std::size_t> shell_result(lines.size());
    std::vector<std::ptrdiff_t> runtime_result(lines.size(), -1);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        shell_result[i] = requests.size();
        requests.push_back({Splitter::command_line_to_argv, lines[i].text});
        if (lines[i].program.empty() || has_adjacent_quotes(lines[i].text)) {
            runtime_result[i] = static_cast<std::ptrdiff_t>(requests.size());
            requests.push_back({Splitter::c_runtime, lines[i].text});
        }
    }
    const auto results = split_command_lines(requests);
    ASSERT_EQ(results.size(), requests.size());

    std::size_t quotes_in_quotes_differences = 0;
    std::size_t argument_zero_differences = 0;
    std::size_t runtime_checked = 0;
    std::size_t runtime_argument_zero_differences = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        const Arguments ours = split_command_line(line.text);
        const Arguments& shell = results[shell_result[i]];
        SCOPED_TRACE("line " + std::to_string(i) + ": " + shown(line.text));

        if (!line.program.empty()) {
            ASSERT_FALSE(shell.empty());
            EXPECT_EQ(shell[0], without_quotes(line.program));
        }
        if (runtime_result[i] >= 0) {
            // The C runtime's rule is the helper's, but for Wine's escapes in
            // argument 0.
            ++runtime_checked;
            const Arguments& runtime = results[runtime_result[i]];
            if (argument_zero_escapes_a_quote(line.text)) {
                if (ours != after_zero(runtime)) ++runtime_argument_zero_differences;
            } else {
                EXPECT_EQ(ours, after_zero(runtime))
                    << "helper " << shown(ours) << ", C runtime " << shown(runtime);
            }
        }
        if (ours == after_zero(shell)) continue;
        // The only lines on which CommandLineToArgvW may read otherwise.
        if (line.program.empty()) {
            ++argument_zero_differences;
        } else {
            EXPECT_TRUE(has_adjacent_quotes(line.text))
                << "helper " << shown(ours) << ", CommandLineToArgvW " << shown(shell);
            ++quotes_in_quotes_differences;
        }
    }
    // The corpus must still reach both listed differences, or it proves little.
    EXPECT_GT(quotes_in_quotes_differences, 10u);
    EXPECT_GT(argument_zero_differences, 5u);
    EXPECT_GT(runtime_argument_zero_differences, 0u);
    EXPECT_GT(runtime_checked, 80u);
    std::printf("%zu lines; %zu also split by the C runtime, which differed on %zu (argument 0); "
                "CommandLineToArgvW differed on %zu (\"\" inside quotes) and %zu (argument 0)\n",
                lines.size(), runtime_checked, runtime_argument_zero_differences,
                quotes_in_quotes_differences, argument_zero_differences);
}

}  // namespace
}  // namespace e2e
