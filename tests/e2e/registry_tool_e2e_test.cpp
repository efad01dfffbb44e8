// ih-reg under Wine: the end-to-end tests seed the registry through it, so it
// must write and read back exact value types and bytes and make real
// registry link keys.
#include "wine_test.h"

#include "text_encoding.h"

#include <cstdint>
#include <cstdio>

namespace e2e {
namespace {

// The hexadecimal digits of text's UTF-16LE units, without a terminator.
std::string utf16_hex(std::string_view text) {
    std::string hex;
    char digits[5];
    for (const char16_t unit : installer_helper::utf16_from_wtf8(text)) {
        std::snprintf(digits, sizeof digits, "%02x%02x", unit & 0xFF, unit >> 8);
        hex += digits;
    }
    return hex;
}

RunResult printed(std::string_view type_and_hex) {
    return {0, std::string(type_and_hex) + "\n", ""};
}
const RunResult done{0, "", ""};

class RegistryToolEndToEnd : public WineTest {
protected:
    // This test's own key below HKLM, absent at the start and removed at the end.
    std::string key(std::string_view relative = {}) const {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string path =
            std::string("Software\\ih-e2e\\") + test->test_suite_name() + "\\" + test->name();
        if (!relative.empty()) path += "\\" + std::string(relative);
        return path;
    }
    RunResult reg(const std::vector<std::string>& arguments) {
        return run_tool("ih-reg", arguments);
    }

    void SetUp() override {
        WineTest::SetUp();
        ASSERT_EQ(reg({"delete-tree", "HKLM", key()}), done);
    }
    void TearDown() override { EXPECT_EQ(reg({"delete-tree", "HKLM", key()}), done); }
};

TEST_F(RegistryToolEndToEnd, RoundTripsEveryValueTypeExactly) {
    struct Case {
        const char* name;
        const char* type;
        std::string hex;
    };
    const std::vector<Case> cases = {
        {"", "1", utf16_hex("default") + "0000"},
        {"Unterminated", "1", utf16_hex("abc")},
        {"Empty string", "1", ""},
        {"Expand", "2", utf16_hex("%TEMP%\\x") + "0000"},
        {"Binary", "3", "00ff10"},
        {"No bytes", "3", ""},
        {"Dword", "4", "78563412"},
        {"Short dword", "4", "010203"},
        {"Big endian", "5", "00000001"},
        {"Multi", "7", utf16_hex("a") + "0000" + "0000"},
        {"Qword", "11", "0102030405060708"},
        {"None", "0", "ab"},
        {"Wert-\xC3\xBC\xF0\x9F\x98\x80", "305419896", "01"},
    };
    for (const Case& value : cases) {
        EXPECT_EQ(reg({"set", "HKLM", key("Values"), value.name, value.type, value.hex}), done)
            << value.name;
        EXPECT_EQ(reg({"get", "HKLM", key("Values"), value.name}),
                  printed(std::string(value.type) + " " + value.hex))
            << value.name;
    }
}

TEST_F(RegistryToolEndToEnd, WritesBelowTheUsersHive) {
    const std::string user_key = std::string(wine_user_sid) + "\\" + key();
    EXPECT_EQ(reg({"set", "HKU", user_key, "Value", "4", "01000000"}), done);
    EXPECT_EQ(reg({"get", "HKU", user_key, "Value"}), printed("4 01000000"));
    EXPECT_EQ(reg({"delete-tree", "HKU", user_key}), done);
    EXPECT_EQ(reg({"get", "HKU", user_key, "Value"}).status, 99u);
}

TEST_F(RegistryToolEndToEnd, LinkKeysAreLinks) {
    const std::string target = "\\Registry\\Machine\\" + key("Target");
    ASSERT_EQ(reg({"set", "HKLM", key("Target"), "Marker", "3", "01"}), done);
    ASSERT_EQ(reg({"link", "HKLM", key("Tree\\Link"), target}), done);
    // Opened as itself, the link key holds its target without a terminator.
    EXPECT_EQ(reg({"get", "HKLM", key("Tree\\Link"), "SymbolicLinkValue"}),
              printed("6 " + utf16_hex(target)));
    EXPECT_EQ(reg({"get", "HKLM", key("Tree\\Link"), "Marker"}),
              (RunResult{99, "", "ih-reg: RegQueryValueExW failed (Windows error 2)\n"}));
    // An ordinary open follows it.
    EXPECT_EQ(reg({"set", "HKLM", key("Tree\\Link"), "Through", "3", "02"}), done);
    EXPECT_EQ(reg({"get", "HKLM", key("Target"), "Through"}), printed("3 02"));
    EXPECT_EQ(reg({"link", "HKLM", key("Tree\\Link"), target}).status, 99u);
    // Deleting the tree removes the link, never what it points at.
    EXPECT_EQ(reg({"delete-tree", "HKLM", key("Tree")}), done);
    EXPECT_EQ(reg({"get", "HKLM", key("Target"), "Marker"}), printed("3 01"));
}

TEST_F(RegistryToolEndToEnd, DeletesSingleKeysAndLinksThemselves) {
    ASSERT_EQ(reg({"set", "HKLM", key("Parent\\Child"), "Value", "3", "01"}), done);
    ASSERT_EQ(reg({"link", "HKLM", key("Link"), "\\Registry\\Machine\\" + key("Parent\\Child")}),
              done);
    EXPECT_EQ(reg({"delete-key", "HKLM", key("Parent")}).status, 99u);  // it has a subkey
    EXPECT_EQ(reg({"delete-key", "HKLM", key("Link")}), done);
    EXPECT_EQ(reg({"get", "HKLM", key("Parent\\Child"), "Value"}), printed("3 01"));
    EXPECT_EQ(reg({"delete-key", "HKLM", key("Parent\\Child")}), done);
    EXPECT_EQ(reg({"get", "HKLM", key("Parent\\Child"), "Value"}),
              (RunResult{99, "", "ih-reg: RegOpenKeyExW failed (Windows error 2)\n"}));
}

}  // namespace
}  // namespace e2e
