// The installer context file as the actions' common steps read it: every
// action but context reads it first, and begin, stop, rollback and commit
// then resolve -Directory against it.
#include "context_file.h"
#include "wine_differences.h"
#include "wine_test.h"

namespace e2e {
namespace {

class ContextEndToEnd : public WineTest {
public:
    std::string context_path() const { return scratch_path("context"); }

    RunResult run_action(std::string_view action, std::string_view directory) {
        return run_helper({"-Action", std::string(action), "-Output", context_path(),
                           "-Directory", std::string(directory), "-Nonce",
                           "0f8fad5b-d9cb-469f-a165-70867728950e"});
    }

    // What a migration action gives once the common steps have passed: the
    // context's installation directory does not exist in these tests.
    static RunResult past_common_steps() {
        return helper_error("The installation directory is unavailable.");
    }
};

const std::string default_directory = ContextFile{}.directory;

class EveryReadingAction : public ContextEndToEnd,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(EveryReadingAction, FailsWithTheSystemsDescriptionWhenTheFileIsMissing) {
    EXPECT_EQ(run_action(GetParam(), default_directory),
              helper_error("Could not read the installer context: " + os_error_text(2)));
}

INSTANTIATE_TEST_SUITE_P(Helper, EveryReadingAction,
                         ::testing::Values("begin", "stop", "rollback", "commit", "validate-launch",
                                           "prepare-verification"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::erase(name, '-');
                             return name;
                         });

TEST_F(ContextEndToEnd, AMissingFolderIsReportedAsAMissingPath) {
    EXPECT_EQ(run_helper({"-Action", "begin", "-Output", scratch_path("no folder\\context"),
                          "-Directory", default_directory}),
              helper_error("Could not read the installer context: " + os_error_text(3)));
}

TEST_F(ContextEndToEnd, ADirectoryIsNoContextFile) {
    make_directory(context_path());
    EXPECT_EQ(run_action("begin", default_directory),
              helper_error("Could not read the installer context: " + os_error_text(5)));
}

TEST_F(ContextEndToEnd, SixtyFourKibibytesIsTheLimit) {
    // At the limit the size check passes and the content is judged: the line
    // after the header has no "=".
    const std::string header = "[context]\r\n";
    write_file(context_path(), header + std::string(65536 - header.size(), 'x'));
    EXPECT_EQ(run_action("begin", default_directory), helper_error("Malformed installer context."));

    write_file(context_path(), header + std::string(65537 - header.size(), 'x'));
    EXPECT_EQ(run_action("begin", default_directory),
              helper_error("The installer context is too large."));
}

struct ContentCase {
    const char* name;
    std::string bytes;
    const char* message;
};

void PrintTo(const ContentCase& row, std::ostream* out) { *out << row.name; }

class ContextContent : public ContextEndToEnd, public ::testing::WithParamInterface<ContentCase> {};

TEST_P(ContextContent, IsRefusedBeforeTheAction) {
    write_file(context_path(), GetParam().bytes);
    EXPECT_EQ(run_action("commit", default_directory), helper_error(GetParam().message));
}

ContextFile with_scope(std::string scope) {
    ContextFile context;
    context.scope = std::move(scope);
    return context;
}

ContextFile with_legacy(std::string legacy) {
    ContextFile context;
    context.legacy = std::move(legacy);
    return context;
}

const std::string written_text = ContextFile{}.text();
const std::string written_utf16 = ContextFile{}.written();

INSTANTIATE_TEST_SUITE_P(
    Helper, ContextContent,
    ::testing::Values(
        ContentCase{"EmptyFile", "", "The installer context header is missing."},
        ContentCase{"OnlyTheUtf16Mark", "\xFF\xFE", "The installer context header is missing."},
        ContentCase{"HeaderInAnotherCase", "[Context]\r\n" + written_text.substr(11),
                    "The installer context header is missing."},
        ContentCase{"Utf16WithoutMark", utf16le(written_text, false),
                    "The installer context header is missing."},
        ContentCase{"Utf16OddByteCount", written_utf16 + "x",
                    "The installer context has invalid UTF-16 encoding."},
        ContentCase{"Utf16UnpairedSurrogate",
                    utf16le("[context]\r\nsid=") + std::string("\x00\xD8", 2) +
                        utf16le("\r\n", false),
                    "The installer context has invalid UTF-16 encoding."},
        ContentCase{"Utf16BigEndian", "\xFE\xFF" + utf16le(written_text, false),
                    "The installer context has invalid UTF-8 encoding."},
        ContentCase{"InvalidUtf8", "[context]\r\nsid=\xC0\x80\r\n",
                    "The installer context has invalid UTF-8 encoding."},
        ContentCase{"BlankLineAfterTheHeader", "[context]\r\n\r\n" + written_text.substr(11),
                    "Malformed installer context."},
        ContentCase{"KeyInAnotherCase", "[context]\r\nScope=user\r\n",
                    "Unexpected installer context field."},
        ContentCase{"KeyGivenTwice", written_text + "legacy=0\r\n", "Duplicate installer context field."},
        ContentCase{"EmptyValue", "[context]\r\nsid=\r\n",
                    "An installer context value is empty, too long, or malformed."},
        ContentCase{"OnlyTheHeader", "[context]\r\n", "Missing installer context field: sid"},
        ContentCase{"ScopeInAnotherCase", with_scope("User").written(),
                    "Invalid installer registry scope."},
        ContentCase{"FlagAsAWord", with_legacy("true").written(), "Invalid installer context flag."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ContextEndToEnd, EveryAcceptedFormReachesTheAction) {
    const ContextFile context;
    std::string reordered = "[context]\n";
    const std::string lines = context.text("\n").substr(10);
    // The same ten lines, last first.
    std::vector<std::string> fields;
    for (std::size_t start = 0; start < lines.size();) {
        const std::size_t end = lines.find('\n', start);
        fields.push_back(lines.substr(start, end + 1 - start));
        start = end + 1;
    }
    for (auto field = fields.rbegin(); field != fields.rend(); ++field) reordered += *field;
    std::string without_last_line_end = context.text();
    without_last_line_end.resize(without_last_line_end.size() - 2);

    const std::pair<const char*, std::string> forms[] = {
        {"as written (UTF-16LE)", context.written()},
        {"UTF-8", context.text()},
        {"UTF-8 with its mark", "\xEF\xBB\xBF" + context.text()},
        {"UTF-16LE with a second mark", utf16le("\xEF\xBB\xBF" + context.text())},
        {"line feeds alone", context.text("\n")},
        {"fields in another order", reordered},
        {"no line end after the last line", without_last_line_end},
    };
    for (const auto& [form, bytes] : forms) {
        write_file(context_path(), bytes);
        EXPECT_EQ(run_action("begin", context.directory), past_common_steps()) << form;
    }
}

TEST_F(ContextEndToEnd, TheMigrationActionsResolveTheirDirectoryAgainstTheContext) {
    write_file(context_path(), ContextFile{}.written());
    for (const char* action : {"begin", "rollback", "commit"}) {
        // Normalised and compared without regard to case.
        EXPECT_EQ(run_action(action, "C:\\GAMES\\quillmora launcher\\"), past_common_steps());
        EXPECT_EQ(run_action(action, "C:\\Games\\Other Launcher"),
                  helper_error("The installation directory differs from setup's context."));
        EXPECT_EQ(run_action(action, "Games\\Quillmora Launcher"),
                  helper_error("The installation path must be an absolute local path."));
    }
}

TEST_F(ContextEndToEnd, NonAsciiDirectoriesMatchAcrossTheFileAndTheCommandLine) {
    ContextFile context;
    context.directory = "C:\\Spiele\\Quillmora L\xC3\xA4uncher \xF0\x9F\x98\x80";
    write_file(context_path(), context.written());
    EXPECT_EQ(run_action("begin", context.directory), past_common_steps());
    EXPECT_EQ(run_action("begin", "C:\\Spiele\\Quillmora Launcher \xF0\x9F\x98\x80"),
              helper_error("The installation directory differs from setup's context."));
}

}  // namespace
}  // namespace e2e
