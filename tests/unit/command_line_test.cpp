#include "command_line.h"

#include "simulated_test.h"

#include <gtest/gtest.h>

#include <vector>

using installer_helper::Action;
using installer_helper::InstallerArguments;
using installer_helper::parse_arguments;
using installer_helper::split_command_line;

namespace {

std::vector<std::u16string> args(std::initializer_list<std::string_view> texts) {
    std::vector<std::u16string> out;
    for (std::string_view text : texts) out.push_back(u16(text));
    return out;
}

std::string parse_error(const std::vector<std::u16string>& arguments) {
    const auto parsed = parse_arguments(arguments);
    EXPECT_FALSE(parsed.has_value());
    return parsed ? std::string("(parsed)") : parsed.error().message();
}

// --- splitting ----------------------------------------------------------

TEST(SplitCommandLine, DropsArgumentZeroAndSplitsOnSpacesAndTabs) {
    EXPECT_EQ(split_command_line(u"helper.exe -Action\tstop  -Output x"),
              args({"-Action", "stop", "-Output", "x"}));
    EXPECT_EQ(split_command_line(u"helper.exe"), args({}));
    EXPECT_EQ(split_command_line(u""), args({}));
    EXPECT_EQ(split_command_line(u"helper.exe   "), args({}));
}

TEST(SplitCommandLine, ArgumentZeroEndsAtFirstBlankOutsideQuotesWithoutEscapes) {
    EXPECT_EQ(split_command_line(u"\"C:\\Program Files\\h.exe\" a"), args({"a"}));
    EXPECT_EQ(split_command_line(u"C:\\a\\\"b c\"\\h.exe a"), args({"a"}));
    // A backslash before a quote escapes nothing in argument 0.
    EXPECT_EQ(split_command_line(u"\"C:\\dir\\\" a b"), args({"a", "b"}));
}

TEST(SplitCommandLine, QuotesGroupAndBackslashesEscapeOnlyBeforeQuotes) {
    EXPECT_EQ(split_command_line(u"h \"a b\" c"), args({"a b", "c"}));
    EXPECT_EQ(split_command_line(u"h C:\\Games\\ x"), args({"C:\\Games\\", "x"}));
    EXPECT_EQ(split_command_line(u"h \"C:\\Games\\\\\" x"), args({"C:\\Games\\", "x"}));
    EXPECT_EQ(split_command_line(u"h a\\\"b"), args({"a\"b"}));
    EXPECT_EQ(split_command_line(u"h a\\\\\\\"b"), args({"a\\\"b"}));
    EXPECT_EQ(split_command_line(u"h a\\\\\"b c\""), args({"a\\b c"}));
    EXPECT_EQ(split_command_line(u"h a\"b\"c"), args({"abc"}));
}

TEST(SplitCommandLine, EmptyQuotedArgumentsSurvive) {
    EXPECT_EQ(split_command_line(u"h -Directory \"\" -Output x"),
              args({"-Directory", "", "-Output", "x"}));
    EXPECT_EQ(split_command_line(u"h \"\""), args({""}));
    EXPECT_EQ(split_command_line(u"h \"unterminated arg"), args({"unterminated arg"}));
}

TEST(SplitCommandLine, DoubledQuoteInsideQuotesIsALiteralQuote) {
    EXPECT_EQ(split_command_line(u"h \"a\"\"b\" c"), args({"a\"b", "c"}));
    EXPECT_EQ(split_command_line(u"h \"a\"\" b\""), args({"a\" b"}));
}

TEST(SplitCommandLine, KeepsUnpairedSurrogates) {
    const std::u16string line = std::u16string(u"h a") + char16_t(0xD800) + u" b";
    const auto split = split_command_line(line);
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(split[0], std::u16string(u"a") + char16_t(0xD800));
}

// --- parsing ------------------------------------------------------------

TEST(ParseArguments, OptionsInAnyOrder) {
    const auto parsed = parse_arguments(args({"-Output", "C:\\Setup\\context", "-Action", "stop",
                                              "-Directory", "C:\\Games"}));
    ASSERT_TRUE(parsed) << parsed.error().message();
    EXPECT_EQ(parsed->action, Action::Stop);
    EXPECT_EQ(parsed->output, "C:\\Setup\\context");
    EXPECT_EQ(parsed->directory, "C:\\Games");
    EXPECT_FALSE(parsed->nonce);
    EXPECT_FALSE(parsed->uninstall);
}

TEST(ParseArguments, EveryActionText) {
    const std::vector<std::pair<std::string, Action>> actions = {
        {"context", Action::Context},   {"begin", Action::Begin},
        {"stop", Action::Stop},         {"rollback", Action::Rollback},
        {"commit", Action::Commit},     {"validate-launch", Action::ValidateLaunch},
        {"prepare-verification", Action::PrepareVerification}};
    for (const auto& [text, action] : actions) {
        const auto parsed = parse_arguments(
            args({"-Action", text, "-Output", "C:\\c", "-Directory", "C:\\G", "-Nonce", "n"}));
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(parsed->action, action) << text;
    }
}

TEST(ParseArguments, ActionMustBeOneOfTheSevenTextsExactly) {
    EXPECT_EQ(parse_error({}), "A supported installer action is required.");
    EXPECT_EQ(parse_error(args({"-Action", "Begin", "-Output", "C:\\c"})),
              "A supported installer action is required.");
    EXPECT_EQ(parse_error(args({"-Action", "", "-Output", "C:\\c"})),
              "A supported installer action is required.");
    EXPECT_EQ(parse_error(args({"-action", "begin"})), "Unknown installer argument: -action");
}

TEST(ParseArguments, UnknownArgumentIsReportedBeforeMissingAction) {
    EXPECT_EQ(parse_error(args({"-Output", "C:\\Setup\\context", "-Verbose"})),
              "Unknown installer argument: -Verbose");
    EXPECT_EQ(parse_error(args({"stray"})), "Unknown installer argument: stray");
}

TEST(ParseArguments, AValueMayLookLikeAnOption) {
    const auto parsed =
        parse_arguments(args({"-Action", "stop", "-Directory", "-Output", "-Output", "C:\\c"}));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->directory, "-Output");
    EXPECT_EQ(parsed->output, "C:\\c");
    // The real -Output must still follow.
    EXPECT_EQ(parse_error(args({"-Action", "stop", "-Directory", "-Output"})),
              "The installer context path is required.");
}

TEST(ParseArguments, DuplicatesAreRefusedEvenAfterAnEmptyValue) {
    EXPECT_EQ(parse_error(args({"-Output", "a.ini", "-Output", "b.ini"})),
              "Duplicate installer argument: -Output");
    EXPECT_EQ(parse_error(args({"-Output", "", "-Output", "a.ini"})),
              "Duplicate installer argument: -Output");
    EXPECT_EQ(parse_error(args({"-Uninstall", "-Uninstall"})),
              "Duplicate installer argument: -Uninstall");
}

TEST(ParseArguments, MissingValueAtTheEnd) {
    EXPECT_EQ(parse_error(args({"-Action", "stop", "-Output"})),
              "Missing value for installer argument: -Output");
}

TEST(ParseArguments, RequiredOptionsInTheirOrder) {
    EXPECT_EQ(parse_error(args({"-Action", "begin"})), "The installer context path is required.");
    EXPECT_EQ(parse_error(args({"-Action", "begin", "-Output", ""})),
              "The installer context path is required.");
    for (const char* action : {"begin", "stop", "rollback", "commit"}) {
        EXPECT_EQ(parse_error(args({"-Action", action, "-Output", "C:\\Setup\\context"})),
                  "The installation directory is required for this action.");
        EXPECT_EQ(parse_error(args({"-Action", action, "-Output", "C:\\c", "-Directory", ""})),
                  "The installation directory is required for this action.");
    }
    EXPECT_EQ(parse_error(args({"-Action", "prepare-verification", "-Output", "C:\\Setup\\context"})),
              "The verification identifier is required.");
    EXPECT_EQ(parse_error(args({"-Action", "prepare-verification", "-Output", "C:\\c", "-Nonce", ""})),
              "The verification identifier is required.");
}

TEST(ParseArguments, IgnoredOptionsAreStillParsed) {
    const auto parsed = parse_arguments(args({"-Action", "validate-launch", "-Output",
                                              "C:\\Setup\\context", "-Directory", "C:\\Games",
                                              "-Nonce", "n", "-Uninstall"}));
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->uninstall);
    EXPECT_EQ(parse_error(args({"-Action", "validate-launch", "-Output", "C:\\c", "-Nonce", "a",
                                "-Nonce", "b"})),
              "Duplicate installer argument: -Nonce");
}

TEST(ParseArguments, EmptyOptionalValuesCountAsAbsent) {
    const auto parsed = parse_arguments(args({"-Action", "context", "-Output", "C:\\c",
                                              "-OriginalSid", "", "-OriginalTemp", "",
                                              "-Directory", ""}));
    ASSERT_TRUE(parsed);
    EXPECT_FALSE(parsed->original_sid);
    EXPECT_FALSE(parsed->original_temp);
    EXPECT_FALSE(parsed->directory);
}

TEST(ParseArguments, ValueCharacters) {
    for (std::string_view bad : {std::string_view("a\nb"), std::string_view("a\rb"),
                                 std::string_view("a\0b", 3)}) {
        EXPECT_EQ(parse_error({u"-Action", u"stop", u"-Output", u16(bad)}),
                  "Invalid installer argument value.");
    }
    const auto parsed = parse_arguments(
        args({"-Action", "context", "-Output", "C:\\c", "-OriginalTemp", "C:\\a=b\tc"}));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->original_temp, "C:\\a=b\tc");
}

TEST(ParseArguments, UnpairedSurrogatesAreRefusedInNamesAndValues) {
    const std::u16string lone(1, char16_t(0xDC00));
    EXPECT_EQ(parse_error({u"-Action", u"stop", u"-Output", u"C:\\" + lone}),
              "Installer arguments must contain valid Unicode.");
    EXPECT_EQ(parse_error({u"-Output" + lone}), "Installer arguments must contain valid Unicode.");
    // A character above U+FFFF is a valid pair, not a surrogate.
    const auto parsed = parse_arguments({u"-Action", u"context", u"-Output", u"C:\\\U0001F600"});
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->output, "C:\\\xF0\x9F\x98\x80");
}

TEST(ParseArguments, FirstFailureWins) {
    EXPECT_EQ(parse_error(args({"-Bogus", "-Output"})), "Unknown installer argument: -Bogus");
    EXPECT_EQ(parse_error({u"-Output", u"a\nb", u"-Bogus"}), "Invalid installer argument value.");
}

}  // namespace
