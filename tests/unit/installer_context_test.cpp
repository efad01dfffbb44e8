#include "installer_context.h"

#include "simulated_test.h"

#include <gtest/gtest.h>

#include <functional>

using installer_helper::decode_installer_context;
using installer_helper::encode_installer_context;
using installer_helper::InstallerContext;
using installer_helper::read_installer_context;
using installer_helper::RegistryScope;
using installer_helper::resolve_action_directory;
using installer_helper::write_installer_context;

namespace {

InstallerContext sample_context() {
    return InstallerContext{
        .sid = "S-1-5-21-1004336348-1177238915-682003330-1001",
        .temp = "C:\\Users\\p\\AppData\\Local\\Temp",
        .desktop = "C:\\Users\\p\\Desktop",
        .programs = "C:\\Users\\p\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
        .local = "C:\\Users\\p\\AppData\\Local",
        .roaming = "C:\\Users\\p\\AppData\\Roaming",
        .directory = "C:\\Users\\p\\AppData\\Local\\Programs\\Quillmora Launcher",
        .scope = RegistryScope::User,
        .legacy = true,
        .elevate = false,
    };
}

// The sample as text lines, in file order, without line endings.
std::vector<std::string> sample_lines() {
    return {"[context]",
            "sid=S-1-5-21-1004336348-1177238915-682003330-1001",
            "temp=C:\\Users\\p\\AppData\\Local\\Temp",
            "desktop=C:\\Users\\p\\Desktop",
            "programs=C:\\Users\\p\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
            "local=C:\\Users\\p\\AppData\\Local",
            "roaming=C:\\Users\\p\\AppData\\Roaming",
            "directory=C:\\Users\\p\\AppData\\Local\\Programs\\Quillmora Launcher",
            "scope=user",
            "legacy=1",
            "elevate=0"};
}

std::string joined(const std::vector<std::string>& lines, std::string_view ending) {
    std::string text;
    for (const std::string& line : lines) text += line + std::string(ending);
    return text;
}

std::string utf16le(std::string_view utf8, bool mark = true) {
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (char16_t unit : u16(utf8)) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

std::string decode_error(std::string_view bytes) {
    const auto decoded = decode_installer_context(bytes);
    return decoded ? "(decoded)" : decoded.error().message();
}

std::string with_line(std::string_view key, std::string_view replacement) {
    std::vector<std::string> lines = sample_lines();
    for (std::string& line : lines)
        if (line.starts_with(std::string(key) + "=")) line = std::string(replacement);
    return joined(lines, "\r\n");
}

// --- encoding -------------------------------------------------------------

TEST(EncodeInstallerContext, WritesTheExactBytes) {
    const auto bytes = encode_installer_context(sample_context());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, utf16le(joined(sample_lines(), "\r\n")));
    EXPECT_EQ(bytes->substr(0, 4), std::string("\xFF\xFE[\0", 4));
}

TEST(EncodeInstallerContext, ChecksSidThenPathsInOrder) {
    InstallerContext context = sample_context();
    context.sid = "";
    context.temp = "C:\\\xED\xA0\x80";
    EXPECT_EQ(encode_installer_context(context).error().message(),
              "An installer context value is empty, too long, or malformed.");
    context.sid = "S-1-5-21-1";
    EXPECT_EQ(encode_installer_context(context).error().message(),
              "Installer paths must contain valid Unicode.");
    context.temp = "C:\\a\nb";
    EXPECT_EQ(encode_installer_context(context).error().message(),
              "An installer context value is empty, too long, or malformed.");
    context.temp = "C:\\t";
    context.directory = std::string(999, 'd');
    EXPECT_TRUE(encode_installer_context(context));
    context.directory = std::string(1000, 'd');
    EXPECT_FALSE(encode_installer_context(context));
}

TEST(EncodeInstallerContext, RefusesASidThatIsNotUnicode) {
    // Written, it would read back as another SID or not at all.
    InstallerContext context = sample_context();
    for (const std::string sid : {"S-1-5-\xFF", "S-1-5-\xED\xA0\x80" /* a lone U+D800 */}) {
        context.sid = sid;
        const auto bytes = encode_installer_context(context);
        ASSERT_FALSE(bytes);
        EXPECT_EQ(bytes.error().message(),
                  "An installer context value is empty, too long, or malformed.");
    }
}

TEST(EncodeInstallerContext, LargestFileIsWithinTheBound) {
    InstallerContext context = sample_context();
    for (std::string* text : {&context.sid, &context.temp, &context.desktop, &context.programs,
                              &context.local, &context.roaming, &context.directory})
        *text = std::string(999, 'x');
    context.scope = RegistryScope::Machine;
    EXPECT_EQ(encode_installer_context(context)->size(), 14210u);
}

// --- decoding -------------------------------------------------------------

TEST(DecodeInstallerContext, RoundTripsWhatTheWriterProduced) {
    InstallerContext context = sample_context();
    context.scope = RegistryScope::Machine;
    context.legacy = false;
    context.elevate = true;
    context.temp = " C:\\a=b\t\xF0\x9F\x98\x80 ";
    EXPECT_EQ(decode_installer_context(*encode_installer_context(context)), context);
}

TEST(DecodeInstallerContext, AcceptsUtf8AndUtf16WithEitherLineEnding) {
    const std::string crlf = joined(sample_lines(), "\r\n");
    const std::string lf = joined(sample_lines(), "\n");
    for (const std::string& bytes : {crlf, "\xEF\xBB\xBF" + crlf, utf16le(crlf), lf, utf16le(lf),
                                     "\xEF\xBB\xBF\xEF\xBB\xBF" + lf, utf16le("\xEF\xBB\xBF" + lf),
                                     lf.substr(0, lf.size() - 1)}) {
        const auto decoded = decode_installer_context(bytes);
        ASSERT_TRUE(decoded) << decoded.error().message();
        EXPECT_EQ(*decoded, sample_context());
    }
}

TEST(DecodeInstallerContext, FieldsInAnyOrder) {
    std::vector<std::string> lines = sample_lines();
    std::reverse(lines.begin() + 1, lines.end());
    EXPECT_EQ(decode_installer_context(joined(lines, "\n")), sample_context());
}

TEST(DecodeInstallerContext, EncodingErrors) {
    EXPECT_EQ(decode_error("\xFF\xFE[\0c"), "The installer context has invalid UTF-16 encoding.");
    EXPECT_EQ(decode_error(std::string("\xFF\xFE\x00\xD8[\0", 6)),
              "The installer context has invalid UTF-16 encoding.");
    EXPECT_EQ(decode_error("\xFE\xFF\0[\0c"), "The installer context has invalid UTF-8 encoding.");
    EXPECT_EQ(decode_error("[context]\nsid=\xC3\x28\n"),
              "The installer context has invalid UTF-8 encoding.");
    EXPECT_EQ(decode_error("[context]\nsid=\xED\xA0\x80\n"),
              "The installer context has invalid UTF-8 encoding.");
    EXPECT_EQ(decode_error("\xFF"), "The installer context has invalid UTF-8 encoding.");
}

TEST(DecodeInstallerContext, HeaderErrors) {
    EXPECT_EQ(decode_error(""), "The installer context header is missing.");
    EXPECT_EQ(decode_error("\xFF\xFE"), "The installer context header is missing.");
    EXPECT_EQ(decode_error(utf16le(joined(sample_lines(), "\r\n"), false)),
              "The installer context header is missing.");
    EXPECT_EQ(decode_error("[Context]\n"), "The installer context header is missing.");
    EXPECT_EQ(decode_error(" [context]\n"), "The installer context header is missing.");
    EXPECT_EQ(decode_error("\n[context]\n"), "The installer context header is missing.");
}

TEST(DecodeInstallerContext, LineErrors) {
    EXPECT_EQ(decode_error("[context]\n\nsid=x\n"), "Malformed installer context.");
    EXPECT_EQ(decode_error(joined(sample_lines(), "\n") + "\n"), "Malformed installer context.");
    EXPECT_EQ(decode_error(joined(sample_lines(), "\r\n") + "\r\n"), "Malformed installer context.");
    EXPECT_EQ(decode_error("[context]\nsid\n"), "Malformed installer context.");
    EXPECT_EQ(decode_error(with_line("scope", "Scope=user")), "Unexpected installer context field.");
    EXPECT_EQ(decode_error(with_line("scope", "scope =user")), "Unexpected installer context field.");
    EXPECT_EQ(decode_error(with_line("scope", "=user")), "Unexpected installer context field.");
    EXPECT_EQ(decode_error(with_line("sid", "sid=")),
              "An installer context value is empty, too long, or malformed.");
    EXPECT_EQ(decode_error(with_line("scope", "scope=User")), "Invalid installer registry scope.");
    EXPECT_EQ(decode_error(with_line("legacy", "legacy=true")), "Invalid installer context flag.");
    EXPECT_EQ(decode_error(with_line("elevate", "elevate= 1")), "Invalid installer context flag.");
}

TEST(DecodeInstallerContext, ValueRuleCountsUtf16Units) {
    const auto temp_of = [](std::string value) {
        return decode_installer_context(with_line("temp", "temp=" + value));
    };
    EXPECT_EQ(temp_of(std::string(999, 't'))->temp, std::string(999, 't'));
    EXPECT_FALSE(temp_of(std::string(1000, 't')));
    std::string astral;
    for (int i = 0; i < 499; ++i) astral += "\xF0\x9F\x98\x80";
    EXPECT_TRUE(temp_of(astral + "x"));
    EXPECT_EQ(temp_of(astral + "\xF0\x9F\x98\x80").error().message(),
              "An installer context value is empty, too long, or malformed.");
}

TEST(DecodeInstallerContext, ValuesKeepEqualsSignsAndStrayCarriageReturns) {
    EXPECT_EQ(decode_installer_context(with_line("temp", "temp=C:\\a=b"))->temp, "C:\\a=b");
    // A carriage return that does not end a line stays in its value.
    std::string text = joined(sample_lines(), "\n");
    text.back() = '\r';  // "elevate=0" becomes "elevate=\r" at the end of the file
    EXPECT_EQ(decode_error(text), "An installer context value is empty, too long, or malformed.");
    EXPECT_EQ(decode_error(with_line("temp", "temp=C:\\a\rb")),
              "An installer context value is empty, too long, or malformed.");
}

TEST(DecodeInstallerContext, DuplicateIsReportedAtItsSecondLineEvenWithAnEqualValue) {
    std::vector<std::string> lines = sample_lines();
    lines.insert(lines.begin() + 2, lines[1]);
    EXPECT_EQ(decode_error(joined(lines, "\n")), "Duplicate installer context field.");
    // A later line's own error comes first when it is met first.
    lines.insert(lines.begin() + 2, "bogus=1");
    EXPECT_EQ(decode_error(joined(lines, "\n")), "Unexpected installer context field.");
}

TEST(DecodeInstallerContext, MissingFieldsAreNamedInFieldOrder) {
    EXPECT_EQ(decode_error("[context]\r\n"), "Missing installer context field: sid");
    std::vector<std::string> lines = sample_lines();
    std::erase_if(lines, [](const std::string& line) {
        return line.starts_with("directory=") || line.starts_with("elevate=");
    });
    EXPECT_EQ(decode_error(joined(lines, "\n")), "Missing installer context field: directory");
    // The scope is checked as soon as it is taken, before the flags are looked for.
    lines = sample_lines();
    std::erase_if(lines, [](const std::string& line) { return line.starts_with("legacy="); });
    for (std::string& line : lines)
        if (line == "scope=user") line = "scope=both";
    EXPECT_EQ(decode_error(joined(lines, "\n")), "Invalid installer registry scope.");
}

// --- files ----------------------------------------------------------------

class InstallerContextFileTest : public SimulatedTest {
protected:
    void SetUp() override { machine.files.add_directory("C:\\Setup"); }
    std::string read_error(std::string_view path = "C:\\Setup\\context") {
        const auto read = read_installer_context(path);
        return read ? "(read)" : read.error().message();
    }
};

TEST_F(InstallerContextFileTest, WriteThenReadGivesTheSameRecord) {
    ASSERT_TRUE(write_installer_context("C:\\Setup\\context", sample_context()));
    EXPECT_EQ(machine.files.contents("C:\\Setup\\context"),
              utf16le(joined(sample_lines(), "\r\n")));
    EXPECT_EQ(read_installer_context("C:\\Setup\\context"), sample_context());
    EXPECT_EQ(machine.faults.calls("FlushFileBuffers"), 0);
}

TEST_F(InstallerContextFileTest, WriterReplacesAnExistingFile) {
    machine.files.add_file("C:\\Setup\\context", std::string(20000, 'x'));
    ASSERT_TRUE(write_installer_context("C:\\Setup\\context", sample_context()));
    EXPECT_EQ(machine.files.contents("C:\\Setup\\context"),
              utf16le(joined(sample_lines(), "\r\n")));
}

TEST_F(InstallerContextFileTest, WriterRefusesABadRecordBeforeTouchingTheFile) {
    machine.files.add_file("C:\\Setup\\context", "old");
    InstallerContext context = sample_context();
    context.desktop = "";
    EXPECT_FALSE(write_installer_context("C:\\Setup\\context", context));
    EXPECT_EQ(machine.files.contents("C:\\Setup\\context"), "old");
}

TEST_F(InstallerContextFileTest, WriteFailuresCarryTheWindowsError) {
    EXPECT_EQ(write_installer_context("C:\\Missing\\context", sample_context()).error().message(),
              "Could not save the installer context: The system cannot find the path specified. "
              "(os error 3)");
    machine.files.capacity_bytes = 100;
    EXPECT_EQ(write_installer_context("C:\\Setup\\context", sample_context()).error().message(),
              "Could not save the installer context: There is not enough space on the disk. "
              "(os error 112)");
}

// What another program may have put at the output path, or done to its
// folder, after the path was checked: the bytes go only into a plain file of
// setup's own at the checked place, and anywhere else nothing changes.
TEST_F(InstallerContextFileTest, WritesOnlyIntoAPlainFileAtTheCheckedPlace) {
    const std::string output = "C:\\Setup\\context";
    const std::string victim = "C:\\Windows\\System32\\context";
    const std::string access_denied =
        "Could not save the installer context: Access is denied. (os error 5)";
    const struct {
        const char* name;
        std::function<void(sim::Machine&)> hostile;
        std::string outcome;
    } cases[] = {
        {"nothing", [](sim::Machine&) {}, "(written)"},
        // The folder cannot be swapped for a junction: it is pinned first.
        {"folder renamed away",
         [](sim::Machine& m) {
             EXPECT_FALSE(win::MoveFileExW(u"C:\\Setup", u"C:\\Parked", 0));
             m.files.add_junction("C:\\Parked\\Setup", "C:\\Windows\\System32");
         },
         "(written)"},
        {"symbolic link",
         [&](sim::Machine& m) { m.files.add_symbolic_link(output, victim, false); },
         "A junction or symbolic link cannot be modified by setup."},
        {"hard link", [&](sim::Machine& m) { m.files.add_file(output, "old").link_count = 2; },
         access_denied},
        {"directory", [&](sim::Machine& m) { m.files.add_directory(output); }, access_denied},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine fresh;
        sim::ScopedMachine installed(fresh);
        fresh.files.add_directory("C:\\Setup");
        fresh.files.add_directory("C:\\Parked");
        fresh.files.add_file(victim, "the system's");
        // Right before the output file is opened: after the two folders are
        // pinned and the path and its two ancestors inspected.
        fresh.faults.before_call("CreateFileW", 6, [&] { c.hostile(fresh); });
        const auto written = write_installer_context(output, sample_context());
        EXPECT_EQ(written ? "(written)" : written.error().message(), c.outcome);
        EXPECT_EQ(fresh.files.contents(victim), "the system's");
        if (c.outcome == access_denied && fresh.files.find(output)->link_count == 2) {
            EXPECT_EQ(fresh.files.contents(output), "old");
        }
    }
}

TEST_F(InstallerContextFileTest, ReadFailuresCarryTheWindowsError) {
    EXPECT_EQ(read_error(), "Could not read the installer context: The system cannot find the "
                            "file specified. (os error 2)");
    EXPECT_EQ(read_error("C:\\Setup"),
              "Could not read the installer context: Access is denied. (os error 5)");
    machine.files.add_file("C:\\Setup\\context", joined(sample_lines(), "\n"));
    machine.faults.fail_nth("ReadFile", 1, win::ERROR_NOT_READY);
    EXPECT_EQ(read_error(),
              "Could not read the installer context: The device is not ready. (os error 21)");
}

TEST_F(InstallerContextFileTest, ReadsAFileThatOthersHaveOpen) {
    machine.files.add_file("C:\\Setup\\context", joined(sample_lines(), "\n"));
    machine.files.hold_open("C:\\Setup\\context", win::GENERIC_READ | win::GENERIC_WRITE,
                            win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE);
    EXPECT_EQ(read_installer_context("C:\\Setup\\context"), sample_context());
}

TEST_F(InstallerContextFileTest, SizeLimit) {
    std::string text = joined(sample_lines(), "\n");
    std::string exact = text + std::string(65536 - text.size(), 'x');
    exact.replace(text.size() - 1, 1, "\n");  // keep the last field intact
    machine.files.add_file("C:\\Setup\\context", exact);
    EXPECT_EQ(read_error(), "Malformed installer context.") << "65,536 bytes pass the size check";
    machine.files.add_file("C:\\Setup\\big", exact + "x");
    EXPECT_EQ(read_error("C:\\Setup\\big"), "The installer context is too large.");
}

TEST_F(InstallerContextFileTest, AFileThatGrowsWhileReadIsTooLarge) {
    sim::Node& file = machine.files.add_file("C:\\Setup\\context", "[context]\n");
    // Another program appends between the size check and the read.
    machine.faults.before_call("ReadFile", 1, [&file] { file.data.resize(70000, 'x'); });
    EXPECT_EQ(read_error(), "The installer context is too large.");
}

// --- the action's directory -------------------------------------------------

TEST(ResolveActionDirectory, NormalisesAndComparesIgnoringCase) {
    sim::Machine machine;
    sim::ScopedMachine installed(machine);
    InstallerContext context = sample_context();
    context.directory = "C:\\Games\\Launcher";
    EXPECT_EQ(resolve_action_directory("C:\\GAMES\\launcher\\", context), "C:\\GAMES\\launcher");
    EXPECT_EQ(resolve_action_directory("C:\\Games\\Other", context).error().message(),
              "The installation directory differs from setup's context.");
    EXPECT_EQ(resolve_action_directory("Games\\Launcher", context).error().message(),
              "The installation path must be an absolute local path.");
    context.directory = "C:\\";
    EXPECT_EQ(resolve_action_directory("C:\\Games", context).error().message(),
              "The installation directory differs from setup's context.");
}

}  // namespace
