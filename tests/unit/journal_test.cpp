#include "engine/journal.h"

#include "text_encoding.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <random>

using namespace installer_helper;

namespace {

constexpr std::string_view sample_sid = "S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr std::string_view launcher_key = "Software\\Quillmora\\Quillmora Launcher";
constexpr std::string_view uninstall_key =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmora Launcher";

Journal sample_journal() {
    return Journal{
        .version = 3,
        .directory = "C:\\Program Files\\Quillmora Launcher",
        .stage = JournalStage::Prepared,
        .scope = RegistryScope::Machine,
        .sid = std::string(sample_sid),
        .binaries = {"Quillmora Launcher.exe", "uninstall.exe"},
        .registration = {{.key = std::string(launcher_key),
                          .exists = true,
                          .values = {{"", REG_SZ, {97, 0, 0, 0}},
                                     {"Flags", REG_BINARY, {0, 255, 10}}}},
                         {.key = std::string(uninstall_key), .exists = false, .values = {}}},
    };
}

const std::string sample_document =
    R"({"version":3,"directory":"C:\\Program Files\\Quillmora Launcher","stage":"prepared",)"
    R"("scope":"machine","sid":"S-1-5-21-1004336348-1177238915-682003330-1001",)"
    R"("binaries":["Quillmora Launcher.exe","uninstall.exe"],"registration":[)"
    R"({"key":"Software\\Quillmora\\Quillmora Launcher","exists":true,"values":[)"
    R"({"name":"","kind":1,"data":[97,0,0,0]},{"name":"Flags","kind":3,"data":[0,255,10]}]},)"
    R"({"key":"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmora Launcher",)"
    R"("exists":false,"values":[]}]})";

// The text with each listed replacement made once, in order; a replacement
// whose text is missing fails the test, so a case never tests the sample
// unchanged by mistake.
std::string edited(std::string text,
                   std::initializer_list<std::pair<std::string_view, std::string_view>> edits) {
    for (const auto& [from, to] : edits) {
        const std::size_t at = text.find(from);
        if (at == std::string::npos) {
            ADD_FAILURE() << "no \"" << from << "\" in the document";
            continue;
        }
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string replaced_everywhere(std::string text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string encoded(const Journal& journal) {
    const Result<std::string> bytes = encode_journal(journal);
    EXPECT_TRUE(bytes) << bytes.error().message();
    return bytes.value_or("");
}

// --- encoding ---------------------------------------------------------------

TEST(EncodeJournal, WritesTheExactCompactDocument) {
    EXPECT_EQ(encoded(sample_journal()), sample_document);
}

TEST(EncodeJournal, NoBinariesAndAbsentKeysAreEmptyLists) {
    Journal journal = sample_journal();
    journal.binaries.clear();
    journal.registration[0] = {.key = std::string(launcher_key), .exists = false, .values = {}};
    journal.stage = JournalStage::BackingUp;
    journal.scope = RegistryScope::User;
    EXPECT_EQ(
        encoded(journal),
        R"({"version":3,"directory":"C:\\Program Files\\Quillmora Launcher",)"
        R"("stage":"backing_up","scope":"user","sid":"S-1-5-21-1004336348-1177238915-682003330-1001",)"
        R"("binaries":[],"registration":[{"key":"Software\\Quillmora\\Quillmora Launcher",)"
        R"("exists":false,"values":[]},{"key":"Software\\Microsoft\\Windows\\CurrentVersion\\)"
        R"(Uninstall\\Quillmora Launcher","exists":false,"values":[]}]})");
}

TEST(EncodeJournal, StagesAndVersionsAsWritten) {
    const std::pair<JournalStage, std::string_view> stages[] = {
        {JournalStage::BackingUp, R"("stage":"backing_up")"},
        {JournalStage::Prepared, R"("stage":"prepared")"},
        {JournalStage::Committed, R"("stage":"committed")"},
        {JournalStage::RolledBack, R"("stage":"rolled_back")"}};
    for (const auto& [stage, text] : stages) {
        Journal journal = sample_journal();
        journal.stage = stage;
        EXPECT_NE(encoded(journal).find(text), std::string::npos) << text;
    }
    for (const auto& [version, text] :
         {std::pair<std::uint32_t, std::string_view>{0, "{\"version\":0,"},
          {10, "{\"version\":10,"},
          {4294967295u, "{\"version\":4294967295,"}}) {
        Journal journal = sample_journal();
        journal.version = version;
        EXPECT_TRUE(encoded(journal).starts_with(text)) << text;
    }
}

TEST(EncodeJournal, EscapesOnlyQuoteBackslashAndControls) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"a\"b", R"("a\"b")"},
        {"C:\\d", R"("C:\\d")"},
        {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
        {std::string_view("\0\x01\x0b\x1a\x1f", 5), R"("\u0000\u0001\u000b\u001a\u001f")"},
        {"/\x7f ", "\"/\x7f \""},
        {"Z\xC3\xBCrich \xE6\x9D\xB1 \xF0\x9F\x98\x80",
         "\"Z\xC3\xBCrich \xE6\x9D\xB1 \xF0\x9F\x98\x80\""},
    };
    for (const auto& [text, json] : cases) {
        Journal journal = sample_journal();
        journal.directory = std::string(text);
        const std::string expected =
            edited(sample_document, {{R"("C:\\Program Files\\Quillmora Launcher")", json}});
        EXPECT_EQ(encoded(journal), expected) << json;
        EXPECT_EQ(decode_journal(expected), journal) << json;
    }
}

TEST(EncodeJournal, RefusesTextThatIsNotUnicode) {
    // A document with such a text could not be read back.
    const auto spoilt = [](const std::string& text) {
        std::vector<Journal> journals(5, sample_journal());
        journals[0].directory = text;
        journals[1].sid = text;
        journals[2].binaries.push_back(text);
        journals[3].registration[1].key = text;
        journals[4].registration[0].values[1].name = text;
        return journals;
    };
    for (const std::string text : {"C:\\\xED\xA0\x80" /* WTF-8 for a lone U+D800 */, "\xFF"}) {
        for (const Journal& journal : spoilt(text)) {
            const Result<std::string> bytes = encode_journal(journal);
            ASSERT_FALSE(bytes);
            EXPECT_EQ(bytes.error().message(), "Cannot serialize migration recovery journal.");
        }
    }
}

// --- decoding ---------------------------------------------------------------

TEST(DecodeJournal, ReadsTheSampleAndVersionsOtherThanThree) {
    EXPECT_EQ(decode_journal(sample_document), sample_journal());
    for (const auto& [text, version] : {std::pair<std::string_view, std::uint32_t>{"0", 0},
                                        {"2", 2},
                                        {"4294967295", 4294967295u}}) {
        const auto journal = decode_journal(
            edited(sample_document, {{"\"version\":3", "\"version\":" + std::string(text)}}));
        ASSERT_TRUE(journal) << text;
        EXPECT_EQ(journal->version, version);
    }
}

TEST(DecodeJournal, AcceptsEveryFormOfTheSameJournal) {
    // No text of the sample holds a colon after a quote, a comma or a bracket.
    std::string spaced = sample_document;
    for (const auto& [from, to] : {std::pair<std::string_view, std::string_view>{"\":", "\" :\n"},
                                   {",", "\r\n,\t"},
                                   {"[", "[ "},
                                   {"}", " }"}})
        spaced = replaced_everywhere(spaced, from, to);
    // clang-format off
    const std::string forms[] = {
        " \t\r\n" + spaced + "\n  \r\n",
        // members in other orders, at every level
        edited(sample_document, {{R"({"version":3,)", "{"}, {R"("values":[]}]})", R"("values":[]}],"version":3})"}}),
        edited(sample_document, {{R"({"key":"Software\\Quillmora\\Quillmora Launcher","exists":true,)",
                                  R"({"exists":true,"key":"Software\\Quillmora\\Quillmora Launcher",)"},
                                 {R"({"name":"","kind":1,"data":[97,0,0,0]})", R"({"data":[97,0,0,0],"kind":1,"name":""})"}}),
        // records as arrays of their members in declared order
        edited(sample_document, {{R"({"name":"Flags","kind":3,"data":[0,255,10]})", R"(["Flags",3,[0,255,10]])"}}),
        edited(sample_document, {{R"({"key":"Software\\Microsoft)", R"(["Software\\Microsoft)"},
                                 {R"(Launcher","exists":false,"values":[]})", R"(Launcher",false,[]])"}}),
        R"([3,"C:\\Program Files\\Quillmora Launcher","prepared","machine",)"
        R"("S-1-5-21-1004336348-1177238915-682003330-1001",["Quillmora Launcher.exe","uninstall.exe"],)"
        R"([["Software\\Quillmora\\Quillmora Launcher",true,[["",1,[97,0,0,0]],["Flags",3,[0,255,10]]]],)"
        R"(["Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmora Launcher",false,[]]]])",
        // stage and scope as one-member objects
        edited(sample_document, {{R"("stage":"prepared")", R"("stage":{"prepared":null})"},
                                 {R"("scope":"machine")", R"("scope": { "machine" : null } )"}}),
        // escapes for characters that need none, member names included
        edited(sample_document, {{R"("C:\\Program Files)", R"("\u0043:\\Program\u0020Files)"},
                                 {R"("sid":"S-1)", R"("s\u0069d":"\u0053-1)"},
                                 {R"("Flags")", R"("Fl\u0061gs")"}}),
    };
    // clang-format on
    for (const std::string& form : forms) EXPECT_EQ(decode_journal(form), sample_journal()) << form;
}

TEST(DecodeJournal, TurnsEscapesIntoTheirCharacters) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {R"(a\/b)", "a/b"},
        {R"(\"\\\b\f\n\r\t)", "\"\\\b\f\n\r\t"},
        {R"(\u00e9\u00E9)", "\xC3\xA9\xC3\xA9"},
        {R"(\u0000)", std::string_view("\0", 1)},
        {R"(\ud83d\ude00)", "\xF0\x9F\x98\x80"},
        {R"(\uDBFF\uDFFF)", "\xF4\x8F\xBF\xBF"},
        {"\x7f\xF0\x9F\x98\x80", "\x7f\xF0\x9F\x98\x80"},
    };
    for (const auto& [json, text] : cases) {
        const auto journal = decode_journal(edited(sample_document, {{sample_sid, json}}));
        ASSERT_TRUE(journal) << json;
        EXPECT_EQ(journal->sid, text) << json;
    }
}

TEST(DecodeJournal, RefusesWhatIsNotOneJournal) {
    const std::string& d = sample_document;
    // clang-format off
    const std::string refused[] = {
        "", " \n", "null", "3", "\"prepared\"", "[]", "{}",
        R"([3,"C:\\a","prepared","machine","S-1-5-21-1",[]])",
        R"([3,"C:\\a","prepared","machine","S-1-5-21-1",[],[],[]])",
        "\xEF\xBB\xBF" + d, d + "x", d + ",", d + d, d + std::string(1, '\0'), d + std::string(" \0x", 3),
        d + "\f", "\v" + d, d + "\xC2\xA0", "/**/" + d, d + "//",
        std::string(1'000'000, '['), "{\"version\":" + std::string(100'000, '['),
    };
    // clang-format on
    for (const std::string& document : refused)
        EXPECT_EQ(decode_journal(document), std::nullopt) << document.substr(0, 200);
}

TEST(DecodeJournal, RefusesEveryValueOutsideTheFormat) {
    // Each row: the text before a piece of the sample, the piece, and what
    // replaces it in one refused document each.
    struct Row {
        std::string_view before;
        std::string_view piece;
        std::vector<std::string_view> instead;
    };
    const std::string deep_list = std::string(100'000, '[') + std::string(100'000, ']');
    const std::string deep_object(100'000, '{');
    // clang-format off
    const Row rows[] = {
        // members extra, repeated, missing or in other letter case, at every level
        {"{", R"("version":3,)", {R"("version":3,"extra":1,)", R"("version":3,"version":3,)", "", R"("Version":3,)"}},
        {"", R"("exists":true,)", {R"("exists":true,"other":null,)", R"("exists":true,"exists":true,)", ""}},
        {"", R"("kind":1,)", {R"("kind":1,"Kind":1,)", R"("kind":1,"kind":1,)", ""}},
        {"{", R"("name":"",)", {R"("":"",)"}},
        {R"("s)", R"(id")", {"\xFF\""}},
        // records as arrays of the wrong length or order, lists of the wrong elements
        {"", R"({"name":"Flags","kind":3,"data":[0,255,10]})", {R"(["Flags",3])", R"(["Flags",3,[],[]])", R"([3,"Flags",[]])"}},
        {R"("registration":[)", "", {"[],", "null,", "3,", "\"k\","}},
        {R"("binaries":)", R"(["Quillmora Launcher.exe","uninstall.exe"])", {"null", R"("a")", "[null]", "[1]", R"([["a"]])", "{}"}},
        {R"("exists":false,"values":)", "[]", {"null", "[null]", "{}", "[[]]"}},
        // numbers with a sign, fraction, exponent, leading zero, out of range, or not numbers
        {R"("version":)", "3", {"-0", "-1", "+3", "3.0", "3e0", "3E0", "03", "0x3", "4294967296", "18446744073709551616", R"("3")", "null"}},
        {R"("kind":)", "1", {"1.0", "-1", "4294967296", "true"}},
        {"[0,", "255,10]", {"256,10]", "-1,10]", "1.5,10]", "1e1,10]", R"("1",10])", "null,10]", "[255],10]", "255,10,]"}},
        {R"("Flags","kind":3,"data":)", "[0,255,10]", {R"("AP8K")", "null", "{}", deep_list}},
        // stage and scope
        {R"("stage":)", R"("prepared")", {R"("Prepared")", R"("PREPARED")", R"("prepared ")", "1", "null", R"(["prepared"])",
                                          R"({"prepared":0})", "{}", R"({"Prepared":null})", R"({"prepared":{}})",
                                          R"({"prepared":null,"committed":null})", R"({"prepared":null,"prepared":null})",
                                          deep_object}},
        {R"("scope":)", R"("machine")", {R"("Machine")", R"({"machine":false})", R"({"machine":null,"user":null})"}},
        // booleans and texts
        {R"("exists":)", "true", {"1", R"("true")", "null", "True", "tru"}},
        {R"("sid":)", R"("S-1-5-21-1004336348-1177238915-682003330-1001")", {"null", "5", R"(["S-1"])", "\"\xE2\x82\""}},
        // escapes other than the standard ones, unpaired surrogates, raw controls, bad UTF-8
        {R"("sid":"S-1-5)", "", {R"(\ud800)", R"(\udc00)", R"(\ud800\u0041)", R"(\udc00\ud800)", R"(\ud800\\)",
                                 R"(\x41)", R"(\')", R"(\U0041)", R"(\u12)", R"(\u12G4)",
                                 "\x01", "\x1f", "\n", "\t", std::string_view("\0", 1),
                                 "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF", "\x80"}},
    };
    // clang-format on
    for (const Row& row : rows) {
        const std::string piece = std::string(row.before) + std::string(row.piece);
        for (const std::string_view instead : row.instead) {
            const std::string document =
                edited(sample_document, {{piece, std::string(row.before) + std::string(instead)}});
            EXPECT_EQ(decode_journal(document), std::nullopt)
                << piece << " -> " << instead.substr(0, 100);
        }
    }
}

TEST(DecodeJournal, ReadsADocumentOfTheLargestSize) {
    Journal journal = sample_journal();
    journal.registration[0].values[1].data.assign(1'000'000, 7);
    std::string document = encoded(journal);
    ASSERT_LT(document.size(), MAX_JOURNAL_BYTES);
    document.append(MAX_JOURNAL_BYTES - document.size(), ' ');
    EXPECT_EQ(decode_journal(document), journal);
}

// --- property: every journal survives its own encoding ----------------------

class JournalGenerator {
public:
    explicit JournalGenerator(std::uint32_t seed) : random_(seed) {}

    Journal journal(bool allow_large_data) {
        Journal journal{
            .version = pick<std::uint32_t>({0, 3, 3, 4294967295u, number(0, 4294967295u)}),
            .directory = text(),
            .stage = static_cast<JournalStage>(number(0, 3)),
            .scope = number(0, 1) == 0 ? RegistryScope::User : RegistryScope::Machine,
            .sid = text(),
            .binaries = {},
            .registration = {},
        };
        for (auto n = number(0, 3); n > 0; --n) journal.binaries.push_back(text());
        for (auto n = number(0, 3); n > 0; --n)
            journal.registration.push_back(snapshot(allow_large_data));
        return journal;
    }

    std::uint32_t number(std::uint32_t low, std::uint32_t high) {
        return std::uniform_int_distribution<std::uint32_t>(low, high)(random_);
    }

private:
    std::mt19937 random_;

    template <typename T>
    T pick(std::initializer_list<T> choices) {
        return *(choices.begin() + number(0, static_cast<std::uint32_t>(choices.size() - 1)));
    }

    // One character from each class in turn decides what a text holds: ASCII,
    // controls, the escaped and the unescaped specials, and every UTF-8 length.
    char32_t character() {
        switch (number(0, 8)) {
            case 0: return number(0x20, 0x7E);
            case 1: return number(0x00, 0x1F);
            case 2: return U'"';
            case 3: return U'\\';
            case 4: return U'/';
            case 5: return 0x7F;
            case 6: return number(0x80, 0x7FF);
            case 7: return pick<char32_t>({number(0x800, 0xD7FF), number(0xE000, 0xFFFF)});
            default: return number(0x10000, 0x10FFFF);
        }
    }

    std::u16string text16() {
        std::u16string out;
        for (auto n = number(0, 12); n > 0; --n) {
            const char32_t c = character();
            if (c < 0x10000) {
                out.push_back(static_cast<char16_t>(c));
            } else {
                out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
                out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            }
        }
        return out;
    }

    std::string text() { return wtf8_from_utf16(text16()); }

    std::vector<std::uint8_t> bytes(std::size_t count) {
        std::vector<std::uint8_t> out(count);
        for (std::uint8_t& byte : out) byte = static_cast<std::uint8_t>(number(0, 255));
        return out;
    }

    static void append_utf16le(std::vector<std::uint8_t>& out, std::u16string_view text) {
        for (const char16_t unit : text) {
            out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
            out.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
        out.push_back(0);
        out.push_back(0);
    }

    RegistryValue value(bool allow_large_data) {
        RegistryValue value{.name = number(0, 4) == 0 ? "" : text(),
                            .kind = pick<std::uint32_t>({REG_SZ, REG_EXPAND_SZ, REG_BINARY,
                                                         REG_DWORD, REG_MULTI_SZ, REG_QWORD}),
                            .data = {}};
        switch (value.kind) {
            case REG_SZ:
            case REG_EXPAND_SZ: append_utf16le(value.data, text16()); break;
            case REG_MULTI_SZ:
                for (auto n = number(0, 3); n > 0; --n) append_utf16le(value.data, text16());
                append_utf16le(value.data, u"");
                break;
            case REG_DWORD: value.data = bytes(4); break;
            case REG_QWORD: value.data = bytes(8); break;
            default:
                const bool large = allow_large_data && number(0, 40) == 0;
                value.data = bytes(large ? number(10'000, 100'000) : number(0, 24));
        }
        return value;
    }

    RegistrySnapshot snapshot(bool allow_large_data) {
        RegistrySnapshot snapshot{.key = text(), .exists = number(0, 3) != 0, .values = {}};
        if (snapshot.exists)
            for (auto n = number(0, 4); n > 0; --n)
                snapshot.values.push_back(value(allow_large_data));
        return snapshot;
    }
};

TEST(JournalProperty, DecodingTheEncodingGivesTheSameJournal) {
    JournalGenerator generate(20261209);
    for (int i = 0; i < 400; ++i) {
        const Journal journal = generate.journal(true);
        const Result<std::string> bytes = encode_journal(journal);
        ASSERT_TRUE(bytes) << "journal " << i;
        const std::optional<Journal> decoded = decode_journal(*bytes);
        ASSERT_EQ(decoded, journal) << "journal " << i << ": " << *bytes;
        ASSERT_EQ(encode_journal(*decoded), bytes) << "journal " << i;
    }
}

// The document with one member of one object left out or given twice; the
// objects are counted in document order.
struct MemberEdit {
    std::size_t object;
    std::size_t member;
    bool twice;
};

void write_edited(const nlohmann::ordered_json& node, const MemberEdit& edit, std::size_t& objects,
                  std::string& out) {
    if (node.is_object()) {
        const std::size_t here = objects++;
        const std::size_t target = here == edit.object ? edit.member % node.size() : node.size();
        std::string members;
        std::size_t index = 0;
        for (const auto& [name, value] : node.items()) {
            std::string member = nlohmann::json(name).dump() + ":";
            write_edited(value, edit, objects, member);
            const int copies = index++ != target ? 1 : edit.twice ? 2 : 0;
            for (int i = 0; i < copies; ++i) members += (members.empty() ? "" : ",") + member;
        }
        out += "{" + members + "}";
    } else if (node.is_array()) {
        out += '[';
        for (std::size_t i = 0; i < node.size(); ++i) {
            if (i > 0) out += ',';
            write_edited(node[i], edit, objects, out);
        }
        out += ']';
    } else {
        out += node.dump();
    }
}

TEST(JournalProperty, MutatedDocumentsAreRefusedOrReadConsistently) {
    JournalGenerator generate(7);
    const char interesting[] = "\"\\{}[],:0-.eE tnfu\x00\x1f\x7f\x80\xbf\xc0\xed\xf4\xff";
    std::size_t refused = 0;
    for (int i = 0; i < 400; ++i) {
        const std::string original = encoded(generate.journal(false));
        std::string mutated = original;
        if (i % 2 == 0) {
            const std::size_t at =
                generate.number(0, static_cast<std::uint32_t>(mutated.size() - 1));
            mutated[at] = generate.number(0, 1) == 0
                              ? interesting[generate.number(0, sizeof interesting - 2)]
                              : static_cast<char>(generate.number(0, 255));
        } else {
            const auto tree = nlohmann::ordered_json::parse(original);
            std::size_t objects = 0;
            write_edited(tree, MemberEdit{.object = SIZE_MAX, .member = 0, .twice = false}, objects,
                         mutated);
            const MemberEdit edit{
                .object = generate.number(0, static_cast<std::uint32_t>(objects - 1)),
                .member = generate.number(0, 6),
                .twice = i % 4 == 1};
            objects = 0;
            mutated.clear();
            write_edited(tree, edit, objects, mutated);
            EXPECT_EQ(decode_journal(mutated), std::nullopt) << mutated;
        }
        const std::optional<Journal> decoded = decode_journal(mutated);
        if (!decoded) {
            ++refused;
            continue;
        }
        EXPECT_TRUE(nlohmann::json::accept(mutated)) << mutated;
        EXPECT_EQ(decode_journal(encoded(*decoded)), decoded) << mutated;
    }
    EXPECT_GT(refused, 200u);
}

}  // namespace
