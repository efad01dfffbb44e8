// The setup authors' reference (docs/setup-reference.md) lists every message
// the helper can print: its table is held to the messages in src/, both ways.
#include "source_messages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using source_messages::is_message;
using source_messages::string_literals;

const fs::path source_root = HELPER_SOURCE_DIR;
const fs::path product = source_root / "src";
const fs::path reference = source_root / "docs" / "setup-reference.md";

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The section of the reference under `heading`, up to the next heading of its level.
std::string section(const std::string& heading) {
    const std::string text = read_text(reference);
    const std::size_t start = text.find("\n" + heading + "\n");
    if (start == std::string::npos) return "";
    const std::size_t end = text.find("\n## ", start + 1);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The first cell of each table row that starts with a message in backticks.
std::set<std::string> documented_messages() {
    std::set<std::string> messages;
    std::istringstream rows(section("## Messages"));
    for (std::string row; std::getline(rows, row);) {
        if (!row.starts_with("| `")) continue;
        const std::size_t end = row.find("` |", 3);
        if (end != std::string::npos) messages.insert(row.substr(3, end - 3));
    }
    return messages;
}

// The messages of the product above the seam (the simulated Windows below
// it only stands in for the system's own descriptions), with the I/O
// layer's own short descriptions, which start in lower case.
std::set<std::string> product_messages() {
    std::set<std::string> messages =
        source_messages::messages_below(product, product / "platform");
    messages.merge(source_messages::literals_after(product, "IoError{std::nullopt,"));
    return messages;
}

std::set<std::string> difference(const std::set<std::string>& from,
                                 const std::set<std::string>& without) {
    std::set<std::string> rest;
    for (const std::string& text : from)
        if (!without.contains(text)) rest.insert(text);
    return rest;
}

TEST(MessageReference, DocumentsEveryMessageTheHelperCanPrint) {
    EXPECT_EQ(difference(product_messages(), documented_messages()), std::set<std::string>{})
        << "messages in src/ missing from the table in " << reference;
}

TEST(MessageReference, ListsOnlyMessagesTheHelperStillHas) {
    EXPECT_EQ(difference(documented_messages(), product_messages()), std::set<std::string>{})
        << "messages in " << reference << " that src/ no longer has";
}

// Each word a registry failure puts into "Registry {} failed (Windows error {}).".
TEST(MessageReference, NamesEveryRegistryOperation) {
    const std::string messages = section("## Messages");
    for (const std::string& operation : source_messages::literals_after(product, "check_status("))
        EXPECT_NE(messages.find("`" + operation + "`"), std::string::npos) << operation;
}

struct LiteralCase {
    const char* source;
    std::vector<std::string> literals;
};

TEST(SourceMessages, ReadsLiteralsAsTheCompilerDoes) {
    const std::vector<LiteralCase> cases = {
        {"fail(\"Cannot read \"\n     \"it: {}\");", {"Cannot read it: {}"}},
        {"f(\"A \" /* between */ \"B\" // after\n \"C\");", {"A BC"}},
        {"// \"not a literal\"\n/* \"nor this\" */ x = \"yes\";", {"yes"}},
        {"c == u'\"' ? \"one\" : \"two\"", {"one", "two"}},
        {"n = 1'000; s = \"t\"; c = '\\'';", {"t"}},
        {"s = \"say \\\"hi\\\"\\n\" \"\\\\x\"", {"say \"hi\"\n\\x"}},
        {"a(\"x\"), b(\"y\")", {"x", "y"}},
        {"u8\"\\xC3\\xBC\"", {"\xC3\xBC"}},
    };
    for (const LiteralCase& c : cases) EXPECT_EQ(string_literals(c.source), c.literals) << c.source;
}

TEST(SourceMessages, TellsMessagesFromNames) {
    for (const char* message :
         {"Invalid installer context flag.", "Unknown installer argument: {}",
          "Could not inspect the desktop shell", "Duplicate installer argument: -Uninstall",
          "Administrator permission is required to restore this installation.\n"})
        EXPECT_TRUE(is_message(message)) << message;
    for (const char* name :
         {"Local AppData", "Quillmora Launcher", "Uninstall Quillmora Launcher.exe",
          "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmora Launcher",
          "value removal", "{}={}\r\n", "D:P(A;OICI;FA;;;{})", ""})
        EXPECT_FALSE(is_message(name)) << name;
}

}  // namespace
