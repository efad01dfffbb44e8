#include "wine_differences.h"

#include "planted_dlls.h"
#include "wine_test.h"

#include "command_line.h"
#include "text_encoding.h"

#include <array>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace e2e {
namespace {

using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;

constexpr std::array<SystemMessage, 16> SYSTEM_MESSAGES = {{
    {2, "File not found.", "The system cannot find the file specified."},
    {3, "Path not found.", "The system cannot find the path specified."},
    {5, "Access denied.", "Access is denied."},
    {6, "Invalid handle.", "The handle is invalid."},
    {15, "Invalid drive.", "The system cannot find the drive specified."},
    {32, "Sharing violation.",
     "The process cannot access the file because it is being used by another process."},
    {53, "Bad network path.", "The network path was not found."},
    {67, "Bad network name.", "The network name cannot be found."},
    {87, "Invalid parameter.", "The parameter is incorrect."},
    {123, "Invalid name.", "The filename, directory name, or volume label syntax is incorrect."},
    {145, "Directory is not empty.", "The directory is not empty."},
    {183, "File already exists.", "Cannot create a file when that file already exists."},
    {267, "Directory name invalid.", "The directory name is invalid."},
    {1008, "Nonexistent token.", "An attempt was made to reference a token that does not exist."},
    {1314, "Privilege not held.", "A required privilege is not held by the client."},
    {1920, "The file cannot be accessed.", "The file cannot be accessed by the system."},
}};

AssertionResult probe_says(WineTest& test, const std::vector<std::string>& query,
                           std::string_view expected) {
    const RunResult probe = test.run_tool("ih-probe", query);
    if (probe == RunResult{0, std::string(expected), ""}) return AssertionSuccess();
    std::ostringstream seen;
    PrintTo(probe, &seen);
    return AssertionFailure() << "ih-probe " << query.front() << " gave " << seen.str()
                              << ", expected \"" << expected << "\"";
}

AssertionResult descriptions_are_wines(WineTest& test) {
    std::vector<std::string> query = {"messages"};
    std::string expected;
    for (const SystemMessage& message : SYSTEM_MESSAGES) {
        query.push_back(std::to_string(message.code));
        expected += std::to_string(message.code) + "\t" + std::string(message.wine) + "\n";
        if (message.wine == message.windows)
            return AssertionFailure() << "error " << message.code << " reads the same as on Windows";
    }
    return probe_says(test, query, expected);
}

AssertionResult runs_elevated(WineTest& test) {
    return probe_says(test, {"elevation"}, "elevated=1\n");
}

AssertionResult has_no_shell_window(WineTest& test) {
    return probe_says(test, {"shell"}, "window=0 process=0\n");
}

AssertionResult makes_no_reparse_points(WineTest& test) {
    return probe_says(test, {"reparse", test.scratch()}, "symlink=missing junction=0x10\n");
}

AssertionResult lacks_process_prng(WineTest& test) {
    return probe_says(test, {"export", "bcryptprimitives.dll", "ProcessPrng"}, "missing\n");
}

using Arguments = std::vector<std::u16string>;

// CommandLineToArgvW of `line` must give the arguments after argument 0 in
// `wine_arguments`; the helper's splitter and the C runtime (Wine's msvcrt)
// must both give `helper_arguments`.
AssertionResult splits_differently(WineTest& test, std::string_view line,
                                   const std::vector<std::string>& wine_arguments,
                                   const std::vector<std::string>& helper_arguments) {
    const auto units_of = [](const std::vector<std::string>& texts) {
        Arguments units;
        for (const std::string& text : texts) units.push_back(installer_helper::utf16_from_wtf8(text));
        return units;
    };
    const std::u16string units = installer_helper::utf16_from_wtf8(line);
    const auto split = test.split_command_lines({{wine::Splitter::command_line_to_argv, units},
                                                 {wine::Splitter::c_runtime, units}});
    if (split.size() != 2 || split[0].empty() || split[1].empty())
        return AssertionFailure() << "no split of " << line;
    if (Arguments(split[0].begin() + 1, split[0].end()) != units_of(wine_arguments))
        return AssertionFailure() << "CommandLineToArgvW changed its reading of " << line;
    if (Arguments(split[1].begin() + 1, split[1].end()) != units_of(helper_arguments))
        return AssertionFailure() << "the C runtime changed its reading of " << line;
    if (installer_helper::split_command_line(units) != units_of(helper_arguments))
        return AssertionFailure() << "the helper's splitter changed its reading of " << line;
    return AssertionSuccess();
}

AssertionResult reads_quotes_in_quotes_the_old_way(WineTest& test) {
    // The older rule ends the quoted part at "" and keeps one quote; the
    // current one keeps one quote and stays inside the quotes.
    return splits_differently(test, R"(x "a""b c" d)", {"a\"b", "c d"}, {"a\"b c", "d"});
}

AssertionResult ends_quoted_argument_zero_at_its_quote(WineTest& test) {
    if (auto result = splits_differently(test, R"("C:\a b"c d)", {"c", "d"}, {"d"}); !result)
        return result;
    return splits_differently(test, R"(a"b c"d e)", {"cd e"}, {"e"});
}

AssertionResult runtime_escapes_quotes_in_argument_zero(WineTest& test) {
    // Microsoft's C runtime lets nothing escape in argument 0: the quote opens
    // a quoted part that runs to the end, so there are no further arguments.
    const std::u16string line = u"\\\" x";
    const auto split = test.split_command_lines({{wine::Splitter::c_runtime, line}});
    if (split.size() != 1 || split[0] != Arguments{u"\"", u"x"})
        return AssertionFailure() << "Wine's msvcrt no longer reads \\\" x as [\", x]";
    if (!installer_helper::split_command_line(line).empty())
        return AssertionFailure() << "the helper's splitter changed its reading of \\\" x";
    return AssertionSuccess();
}

// What "ih-acl show" prints for a directory that ih-acl created in the
// scratch directory with this SDDL ("-" for no descriptor).
std::string dacl_of_directory_created_with(WineTest& test, std::string_view name,
                                           std::string_view sddl) {
    const std::string directory = test.scratch_path(name);
    const RunResult created = test.run_tool("ih-acl", {"create", directory, std::string(sddl)});
    if (created != RunResult{0, "", ""}) return "ih-acl create failed: " + created.standard_error;
    const RunResult shown = test.run_tool("ih-acl", {"show", directory});
    return shown.status == 0 ? shown.standard_output : "ih-acl show failed: " + shown.standard_error;
}

AssertionResult keeps_no_directory_dacl(WineTest& test) {
    const std::string given = dacl_of_directory_created_with(
        test, "given",
        "D:P(A;OICI;0x1301bf;;;" + std::string(wine_user_sid) + ")(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
    // Without a descriptor the mode lets everyone read: the end-to-end tests
    // rely on that entry's absence to see that the helper passed one.
    const std::string none = dacl_of_directory_created_with(test, "none", "-");
    if (given == verification_dacl_under_wine &&
        none == std::string(verification_dacl_under_wine) + "allow OICI 0x1200a9 S-1-1-0\n")
        return AssertionSuccess();
    return AssertionFailure() << "with the verification descriptor ih-acl shows \"" << given
                              << "\", with none \"" << none << "\"";
}

AssertionResult keeps_its_own_bcrypt(WineTest& test) {
    const std::string folder = test.scratch_path("planted");
    constexpr std::array<std::string_view, 1> bcrypt = {"bcrypt.dll"};
    plant_dlls(folder, bcrypt);
    const RunResult probe =
        run_copy_in(test, folder, std::filesystem::path(E2E_TOOLS_DIR) / "ih-probe.exe",
                    {"export", "bcrypt.dll", "BCryptGenRandom"});
    const std::string loaded = loaded_planted_dlls(folder);
    if (probe == RunResult{0, "present\n", ""} && loaded.empty()) return AssertionSuccess();
    std::ostringstream seen;
    PrintTo(probe, &seen);
    return AssertionFailure() << "ih-probe beside a planted bcrypt.dll gave " << seen.str()
                              << " and loaded \"" << loaded << "\"";
}

AssertionResult replaces_read_only_files(WineTest& test) {
    return probe_says(test, {"replace-read-only", test.scratch()}, "replaced\n");
}

AssertionResult lists_no_directory_held_for_deletion(WineTest& test) {
    return probe_says(test, {"list-held", test.scratch()}, "refused 32\n");
}

constexpr std::array<KnownDifference, 12> KNOWN_DIFFERENCES = {{
    {"system error descriptions",
     "Wine's FormatMessageW has its own short English texts (\"File not found.\" for error 2, "
     "where Windows says \"The system cannot find the file specified.\"); expected messages "
     "take the description from system_messages().",
     descriptions_are_wines},
    {"programs run elevated",
     "Wine gives every process an elevated administrator token; ih-run --unelevated starts a "
     "program with the linked limited token instead.",
     runs_elevated},
    {"no desktop shell window",
     "Wine without a desktop has no shell window (GetShellWindow is null); ih-run --shell "
     "makes one.",
     has_no_shell_window},
    {"no junctions or symbolic links",
     "Wine 8 creates neither symbolic links (CreateSymbolicLinkW does nothing) nor junctions "
     "(FSCTL_SET_REPARSE_POINT leaves a plain directory); paths through reparse points are "
     "covered by the unit tests against the simulated Windows.",
     makes_no_reparse_points},
    {"no ProcessPrng",
     "Wine 8's bcryptprimitives.dll does not export ProcessPrng, so the helper's random "
     "bytes come from its BCryptGenRandom fallback here.",
     lacks_process_prng},
    {"CommandLineToArgvW and \"\" inside quotes",
     "CommandLineToArgvW keeps the rule of the C runtime before 2008: inside quotes, \"\" "
     "gives one quote and ends the quoted part. The helper splits like the current C runtime "
     "(and Wine's msvcrt): one quote, and the quoted part goes on.",
     reads_quotes_in_quotes_the_old_way},
    {"CommandLineToArgvW and argument 0",
     "CommandLineToArgvW ends an argument 0 that starts with a quote at the next quote, and "
     "an unquoted one at the first blank even inside quotes. The helper, like the C "
     "runtime, lets quotes in argument 0 group up to the first blank outside them.",
     ends_quoted_argument_zero_at_its_quote},
    {"msvcrt and backslashes in argument 0",
     "Wine's msvcrt reads argument 0 by the rules of the other arguments, so an odd run of "
     "backslashes escapes a quote there. Microsoft's C runtime, and the helper, let nothing "
     "escape in argument 0, which is a path.",
     runtime_escapes_quotes_in_argument_zero},
    {"directories keep no DACL",
     "Wine 8 does not store the security descriptor a directory is created with: it turns the "
     "DACL into Unix mode bits, and GetNamedSecurityInfoW shows a DACL made up from those: "
     "never protected, full access for SYSTEM and the owner, nothing for Administrators, and "
     "read access for Everyone when the mode lets others read, as it does for a directory "
     "created without a descriptor. The end-to-end tests check what Wine shows (no Everyone "
     "entry, so a descriptor was passed); the unit tests check the protected list of three "
     "inheritable entries against the simulated Windows.",
     keeps_no_directory_dacl},
    {"Wine keeps its own bcrypt.dll",
     "A program that loads bcrypt.dll by name from a folder holding another bcrypt.dll gets "
     "that other one on Windows, where bcrypt is not a known DLL; Wine 8 gives it its builtin "
     "bcrypt.dll. So the planted-DLL tests cannot see the helper take bcrypt.dll from its own "
     "folder under Wine; they do see it for userenv.dll and bcryptprimitives.dll, which Wine "
     "takes from there, and the helper loads all three in the same way.",
     keeps_its_own_bcrypt},
    {"MoveFileExW replaces a read-only file",
     "Windows refuses MoveFileExW with MOVEFILE_REPLACE_EXISTING onto a read-only file (error "
     "5); Wine 8 replaces it. The helper clears the attribute of a file it replaces first, "
     "which the unit tests prove against the simulated Windows, where the refusal is modelled.",
     replaces_read_only_files},
    {"FindFirstFileExW does not share deletion",
     "Wine 8's FindFirstFileExW opens the directory without FILE_SHARE_DELETE, so it cannot "
     "list a directory that some handle holds with DELETE access; Windows lists it. The "
     "helper pins the directories it lists without DELETE access, and asks for that access "
     "only when it removes a directory, which it no longer lists then.",
     lists_no_directory_held_for_deletion},
}};

}  // namespace

std::span<const KnownDifference> known_differences() { return KNOWN_DIFFERENCES; }

void PrintTo(const KnownDifference& difference, std::ostream* out) { *out << difference.name; }

std::span<const SystemMessage> system_messages() { return SYSTEM_MESSAGES; }

std::string os_error_text(std::uint32_t code) {
    for (const SystemMessage& message : SYSTEM_MESSAGES)
        if (message.code == code)
            return std::string(message.wine) + " (os error " + std::to_string(code) + ")";
    throw std::invalid_argument("Windows error " + std::to_string(code) +
                                " has no entry in system_messages()");
}

}  // namespace e2e
