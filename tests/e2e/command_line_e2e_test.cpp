// The command line as setup passes it: the real process command line, split
// and parsed by the helper, with every failure's exact line and status.
#include "wine_differences.h"
#include "wine_test.h"

namespace e2e {
namespace {

// The command line after the helper's quoted path, exactly: each tail brings
// its own separator.
struct CommandLineCase {
    const char* name;
    const char* tail;
    const char* message;
};

void PrintTo(const CommandLineCase& row, std::ostream* out) { *out << row.name; }

class CommandLineFailure : public WineTest,
                           public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLineFailure, PrintsItsLineAndExitsWithStatusOne) {
    const CommandLineCase& row = GetParam();
    const std::string line = "\"" + wine::helper_path() + "\"" + row.tail;
    EXPECT_EQ(run_helper_command_line(line), helper_error(row.message));
}

constexpr CommandLineCase PARSE_FAILURES[] = {
    {"NoArguments", "", "A supported installer action is required."},
    {"OnlyBlanks", " \t ", "A supported installer action is required."},
    {"ActionInAnotherCase", R"( -Action Begin -Output C:\Setup\context -Directory C:\Games)",
     "A supported installer action is required."},
    {"UnknownAction", R"( -Action migrate -Output C:\Setup\context)",
     "A supported installer action is required."},
    {"OptionInAnotherCase", R"( -action begin -Output C:\Setup\context -Directory C:\Games)",
     "Unknown installer argument: -action"},
    {"UnknownBeforeMissingAction", R"( -Output C:\Setup\context -Verbose)",
     "Unknown installer argument: -Verbose"},
    {"StrayValue", R"( -Action stop -Output C:\Setup\context stray -Directory C:\Games)",
     "Unknown installer argument: stray"},
    {"UnknownNonAscii", " -\xC3\x9Cnknown\xE2\x82\xAC\xF0\x9F\x98\x80",
     "Unknown installer argument: -\xC3\x9Cnknown\xE2\x82\xAC\xF0\x9F\x98\x80"},
    // Read by the current C runtime's rule: "" inside quotes is one quote
    // and the quoted part goes on, so the space stays in the argument.
    {"QuotesInsideQuotes", R"( -Output C:\x "a""b c")", "Unknown installer argument: a\"b c"},
    {"BackslashesBeforeAQuote", R"( -Output C:\x a\\\"b\\)", "Unknown installer argument: a\\\"b\\\\"},
    {"EmptyQuotedArgument", R"( -Output C:\x "")", "Unknown installer argument: "},
    {"TabsSeparate", " \t-Action\tstop\t-Output\tC:\\Setup\\context\t",
     "The installation directory is required for this action."},
    {"UninstallTwice", " -Uninstall -Action context -Uninstall",
     "Duplicate installer argument: -Uninstall"},
    {"MissingValueAtTheEnd", " -Action stop -Output", "Missing value for installer argument: -Output"},
    {"MissingValueOfAnIgnoredOption", R"( -Action stop -Output C:\x -Directory C:\G -OriginalTemp)",
     "Missing value for installer argument: -OriginalTemp"},
    {"QuotedLineFeedInValue", " -Action stop -Output \"C:\\Setup\\con\ntext\" -Directory C:\\Games",
     "Invalid installer argument value."},
    {"LineFeedInValue", " -Action stop -Output C:\\Setup\\con\ntext -Directory C:\\Games",
     "Invalid installer argument value."},
    {"CarriageReturnInIgnoredValue", R"( -Action stop -Output C:\x -Directory C:\G -Nonce a)" "\rb",
     "Invalid installer argument value."},
    {"UnpairedHighSurrogateInValue", " -Action stop -Output C:\\Setup\\\xED\xA0\x80 -Directory C:\\G",
     "Installer arguments must contain valid Unicode."},
    {"UnpairedLowSurrogateInName", " -Action stop -Out\xED\xB0\x80put C:\\x -Directory C:\\G",
     "Installer arguments must contain valid Unicode."},
    {"SurrogateBeforeUnknown", " -Output \xED\xA0\x80 -Verbose",
     "Installer arguments must contain valid Unicode."},
    {"UnknownBeforeSurrogate", " -Verbose -Output \xED\xA0\x80",
     "Unknown installer argument: -Verbose"},
    {"OutputTwice", " -Output a.ini -Output b.ini", "Duplicate installer argument: -Output"},
    {"EmptyOutputThenOutput", " -Output \"\" -Output a.ini", "Duplicate installer argument: -Output"},
    {"IgnoredOptionTwice", R"( -Action stop -Output C:\x -Directory C:\G -Nonce a -Nonce a)",
     "Duplicate installer argument: -Nonce"},
    {"ValueThatLooksLikeAnOption", " -Action stop -Directory -Output",
     "The installer context path is required."},
    {"EmptyOutput", " -Action stop -Output \"\" -Directory C:\\Games",
     "The installer context path is required."},
    {"NoOutput", " -Action validate-launch", "The installer context path is required."},
    {"BeginWithEmptyDirectory", R"( -Action begin -Output C:\Setup\context -Directory "")",
     "The installation directory is required for this action."},
    {"StopWithoutDirectory", R"( -Action stop -Output C:\Setup\context)",
     "The installation directory is required for this action."},
    {"RollbackWithEmptyDirectory", R"( -Action rollback -Output C:\Setup\context -Directory "")",
     "The installation directory is required for this action."},
    {"CommitWithoutDirectory", R"( -Action commit -Output C:\Setup\context -Uninstall)",
     "The installation directory is required for this action."},
    {"PrepareVerificationWithoutNonce", R"( -Action prepare-verification -Output C:\Setup\context)",
     "The verification identifier is required."},
    {"PrepareVerificationWithEmptyNonce",
     R"( -Action prepare-verification -Output C:\Setup\context -Nonce "")",
     "The verification identifier is required."},
    // The output path check runs before any handler.
    {"RelativeOutput", R"( -Action stop -Output context -Directory C:\Games)",
     "Installer paths must be absolute."},
    {"DriveRelativeOutput", R"( -Action stop -Output C:context -Directory C:\Games)",
     "Installer paths must be absolute."},
    {"RootedOutputWithoutDrive", R"( -Action validate-launch -Output \Setup\context)",
     "Installer paths must be absolute."},
    {"DotRelativeOutput", R"( -Action context -Output .\context)",
     "Installer paths must be absolute."},
    // Device paths would open a pipe or a raw disk before anything is read.
    {"PipeOutput", R"( -Action validate-launch -Output \\.\pipe\ih-no-such-pipe)",
     "Installer paths must be absolute."},
    {"RawDiskOutput", R"( -Action context -Output \\.\PhysicalDrive0)",
     "Installer paths must be absolute."},
    {"GlobalRootOutput", R"( -Action stop -Output \\?\GLOBALROOT\Device\Null -Directory C:\Games)",
     "Installer paths must be absolute."},
    // An unknown argument holding a line break still gives one line.
    {"ArgumentWithLineFeed", " -Action stop -Output C:\\x -\nBogus",
     "Unknown installer argument: - Bogus"},
};

INSTANTIATE_TEST_SUITE_P(Helper, CommandLineFailure, ::testing::ValuesIn(PARSE_FAILURES),
                         [](const auto& info) { return std::string(info.param.name); });

using CommandLineEndToEnd = WineTest;

TEST_F(CommandLineEndToEnd, ArgumentZeroRunsToTheFirstBlankOutsideQuotes) {
    // The text right after argument 0's closing quote still belongs to it
    // (CommandLineToArgvW would make it an argument of its own).
    const std::string quoted = "\"" + wine::helper_path() + "\"";
    EXPECT_EQ(run_helper_command_line(quoted + "-Verbose"),
              helper_error("A supported installer action is required."));
    EXPECT_EQ(run_helper_command_line(quoted + "\t-Verbose"),
              helper_error("Unknown installer argument: -Verbose"));
}

TEST_F(CommandLineEndToEnd, OptionsInAnyOrderWithTabsAndEqualsSignsInValues) {
    // Everything parses, the ignored options included, so the run gets as
    // far as reading the context file, whose folder does not exist.
    EXPECT_EQ(run_helper({"-Nonce", "n", "-Directory", "C:\\Games\\a\tb=c", "-Uninstall",
                          "-OriginalSid", "", "-Output", scratch_path("missing\\context"),
                          "-OriginalTemp", "C:\\Temp", "-Action", "stop"}),
              helper_error("Could not read the installer context: " + os_error_text(3)));
}

TEST_F(CommandLineEndToEnd, WithoutAStandardErrorHandleTheLineIsDroppedAndTheStatusKept) {
    EXPECT_EQ(run_helper({"-Action", "Begin"}, {.no_standard_error = true}), (RunResult{1, "", ""}));
    // Nor did the line reach Wine's own console.
    EXPECT_EQ(last_run_file(".wine.err").find("installer action"), std::string::npos);
    EXPECT_EQ(last_run_file(".wine.out").find("installer action"), std::string::npos);
}

}  // namespace
}  // namespace e2e
