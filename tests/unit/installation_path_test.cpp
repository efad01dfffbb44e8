#include "windows/installation_path.h"

#include "simulated_test.h"

#include <gtest/gtest.h>

using installer_helper::normalize_installation_path;
using installer_helper::same_installation_path;
using installer_helper::to_wide_nul;

namespace {

std::string normalized(std::string_view path) {
    const auto result = normalize_installation_path(path);
    return result ? *result : "error: " + result.error().message();
}

std::string error_of(std::string_view path) {
    const auto result = normalize_installation_path(path);
    return result ? "(normalised to " + *result + ")" : result.error().message();
}

constexpr const char* not_absolute = "The installation path must be an absolute local path.";
constexpr const char* escaped = "Installation path escaped its drive root.";
constexpr const char* bad_component = "Invalid installation path component.";
constexpr const char* drive_root = "A drive root cannot be an installation directory.";

TEST(NormalizeInstallationPath, ResolvesSeparatorsDotsAndDotDots) {
    EXPECT_EQ(normalized("C:/Games//Launcher/./x/../"), "C:\\Games\\Launcher");
    EXPECT_EQ(normalized("C:\\a\\b\\..\\..\\c"), "C:\\c");
    EXPECT_EQ(normalized("d:\\Games"), "d:\\Games");
    EXPECT_EQ(normalized("C:\\ Games"), "C:\\ Games");
    EXPECT_EQ(normalized("C:\\.hidden"), "C:\\.hidden");
    EXPECT_EQ(normalized("C:\\Games\\CON"), "C:\\Games\\CON");
    EXPECT_EQ(normalized("C:\\a\tb"), "C:\\a\tb");
    EXPECT_EQ(normalized("C:\\Spiele\\\xC3\xBC"), "C:\\Spiele\\\xC3\xBC");
}

TEST(NormalizeInstallationPath, IsIdempotent) {
    for (const char* path : {"C:/Games//Launcher/./x/../", "d:\\a\\b", "C:\\ a\\.b"}) {
        const std::string once = normalized(path);
        EXPECT_EQ(normalized(once), once);
    }
}

TEST(NormalizeInstallationPath, RefusesEveryFormButAbsoluteLocal) {
    for (const char* path : {"C:Games", "\\Games", "Games", "", "\\\\server\\share\\Games",
                             "//server/share/Games", "\\\\?\\C:\\Games", "\\\\.\\C:\\Games",
                             "1:\\Games", "C:"}) {
        EXPECT_EQ(error_of(path), not_absolute) << path;
    }
}

TEST(NormalizeInstallationPath, RefusesDriveRootsAndEscapes) {
    for (const char* path : {"C:\\", "C:\\.", "C:\\Games\\..", "C:/"})
        EXPECT_EQ(error_of(path), drive_root) << path;
    for (const char* path : {"C:\\..\\Games", "C:\\a\\..\\..\\b"})
        EXPECT_EQ(error_of(path), escaped) << path;
}

TEST(NormalizeInstallationPath, RefusesComponentsWindowsCannotHold) {
    for (const char* path : {"C:\\Games.\\x", "C:\\Games \\x", "C:\\...", "C:\\a:b", "C:\\what?",
                             "C:\\a<b", "C:\\a>b", "C:\\a\"b", "C:\\a|b", "C:\\a*b"}) {
        EXPECT_EQ(error_of(path), bad_component) << path;
    }
    EXPECT_EQ(error_of(std::string_view("C:\\a\0b", 6)), bad_component);
    // An unpaired surrogate, as WTF-8.
    EXPECT_EQ(error_of("C:\\a\xED\xA0\x80"), "The installation path must be valid Unicode.");
}

TEST(NormalizeInstallationPath, FirstBadPieceDecides) {
    EXPECT_EQ(error_of("C:\\..\\a:b"), escaped);
    EXPECT_EQ(error_of("C:\\a:b\\.."), bad_component);
}

class SameInstallationPathTest : public SimulatedTest {};

TEST_F(SameInstallationPathTest, NormalisesBothAndIgnoresCase) {
    EXPECT_TRUE(same_installation_path("d:\\Games", "D:\\GAMES\\"));
    EXPECT_TRUE(same_installation_path("C:/Games/./Launcher", "c:\\games\\launcher"));
    EXPECT_TRUE(same_installation_path("C:\\Spiele\\\xC3\xBC", "C:\\SPIELE\\\xC3\x9C"));
    EXPECT_FALSE(same_installation_path("C:\\Games", "C:\\Games2"));
    EXPECT_FALSE(same_installation_path("C:\\Games", "D:\\Games"));
}

TEST_F(SameInstallationPathTest, APathThatFailsMatchesNothingNotEvenItself) {
    EXPECT_FALSE(same_installation_path("C:\\", "C:\\"));
    EXPECT_FALSE(same_installation_path("Games", "Games"));
    EXPECT_FALSE(same_installation_path("C:\\a:b", "C:\\a:b"));
}

TEST_F(SameInstallationPathTest, DifferentlyComposedTextIsDifferent) {
    // U+00E9 against e followed by U+0301.
    EXPECT_FALSE(same_installation_path("C:\\caf\xC3\xA9", "C:\\cafe\xCC\x81"));
}

TEST(ToWideNul, AppendsOneTerminatorAndRefusesInnerNul) {
    EXPECT_EQ(*to_wide_nul(""), std::u16string(1, u'\0'));
    EXPECT_EQ(*to_wide_nul("C:\\\xF0\x9F\x98\x80"), std::u16string(u"C:\\\U0001F600") + u'\0');
    EXPECT_EQ(to_wide_nul(std::string_view("a\0b", 3)).error().message(),
              "A Windows argument contains a null character.");
    // Unpaired surrogates are carried over to Windows unchanged.
    EXPECT_EQ(*to_wide_nul("a\xED\xB0\x80"), std::u16string(u"a") + char16_t(0xDC00) + u'\0');
}

}  // namespace
