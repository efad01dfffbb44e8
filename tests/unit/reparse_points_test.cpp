#include "windows/reparse_points.h"

#include "simulated_test.h"

#include <gtest/gtest.h>

using installer_helper::ensure_no_reparse_points;
using installer_helper::ensure_no_reparse_points_below;
using installer_helper::inspect_path;
using installer_helper::PathKind;

namespace {

constexpr const char* link_refused = "A junction or symbolic link cannot be modified by setup.";

class ReparsePointTest : public SimulatedTest {
protected:
    PathKind kind(std::string_view path) {
        const auto result = inspect_path(path);
        EXPECT_TRUE(result) << result.error().message();
        return result.value_or(PathKind::Missing);
    }
    std::string check(std::string_view path) {
        const auto result = ensure_no_reparse_points(path);
        return result ? "ok" : result.error().message();
    }
};

TEST_F(ReparsePointTest, ClassifiesWhatThePathItselfIs) {
    machine.files.add_file("C:\\Games\\launcher.exe", "MZ");
    machine.files.add_junction("C:\\Link", "C:\\Games");
    machine.files.add_symbolic_link("C:\\FileLink", "C:\\Games\\launcher.exe", false);
    machine.files.add_symbolic_link("C:\\DirLink", "C:\\Games", true);
    EXPECT_EQ(kind("C:\\Games\\launcher.exe"), PathKind::RegularFile);
    EXPECT_EQ(kind("C:\\Games"), PathKind::Directory);
    EXPECT_EQ(kind("C:\\"), PathKind::Directory);
    EXPECT_EQ(kind("C:\\Link"), PathKind::ReparsePoint);
    EXPECT_EQ(kind("C:\\FileLink"), PathKind::ReparsePoint);
    EXPECT_EQ(kind("C:\\DirLink"), PathKind::ReparsePoint);
}

TEST_F(ReparsePointTest, NeverOpensALinksTarget) {
    machine.files.add_directory("C:\\Target").open_error = win::ERROR_SHARING_VIOLATION;
    machine.files.add_symbolic_link("C:\\DirLink", "C:\\Target", true);
    EXPECT_EQ(kind("C:\\DirLink"), PathKind::ReparsePoint);
    EXPECT_EQ(machine.faults.calls("FindFirstFileExW"), 0);
}

TEST_F(ReparsePointTest, AbsentPathsAreMissingNotErrors) {
    machine.files.add_directory("C:\\Games");
    EXPECT_EQ(kind("C:\\Games\\nothing"), PathKind::Missing);
    EXPECT_EQ(kind("C:\\nothing\\deeper\\still"), PathKind::Missing);
    EXPECT_EQ(kind("Q:\\Games"), PathKind::Missing);
    EXPECT_EQ(kind("\\\\server\\share\\x"), PathKind::Missing);
}

TEST_F(ReparsePointTest, EntriesThatCannotBeOpenedAreClassifiedFromTheirDirectoryEntry) {
    machine.files.add_file("C:\\Games\\locked.dat").open_error = win::ERROR_SHARING_VIOLATION;
    machine.files.add_directory("C:\\Games\\private").open_error = win::ERROR_ACCESS_DENIED;
    machine.files.add_junction("C:\\Games\\hidden-link", "C:\\").open_error =
        win::ERROR_ACCESS_DENIED;
    EXPECT_EQ(kind("C:\\Games\\locked.dat"), PathKind::RegularFile);
    EXPECT_EQ(kind("C:\\Games\\private"), PathKind::Directory);
    EXPECT_EQ(kind("C:\\Games\\hidden-link"), PathKind::ReparsePoint);
}

TEST_F(ReparsePointTest, OtherFailuresAreReportedWithTheWindowsError) {
    machine.files.add_file("C:\\Games\\x").open_error = win::ERROR_NOT_READY;
    EXPECT_EQ(inspect_path("C:\\Games\\x").error().message(),
              "Cannot inspect installer path: The device is not ready. (os error 21)");
    // When the fallback search fails too, its own error is the one reported.
    machine.files.add_file("C:\\Games\\y").open_error = win::ERROR_ACCESS_DENIED;
    machine.faults.fail_nth("FindFirstFileExW", 1, win::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(inspect_path("C:\\Games\\y").error().message(),
              "Cannot inspect installer path: The parameter is incorrect. (os error 87)");
}

TEST_F(ReparsePointTest, EnsureAcceptsPlainAndMissingPaths) {
    machine.files.add_directory("C:\\Setup");
    EXPECT_EQ(check("C:\\Setup\\context"), "ok");
    EXPECT_EQ(check("C:\\Setup\\missing\\deeper\\context"), "ok");
    EXPECT_EQ(check("C:/Setup/context"), "ok");
    EXPECT_EQ(check("C:\\"), "ok");
    EXPECT_EQ(check("Q:\\Setup\\context"), "ok");
    EXPECT_EQ(check("\\\\?\\C:\\Setup\\context"), "ok");
    EXPECT_EQ(check("\\\\?\\UNC\\server\\share\\context"), "ok");
    EXPECT_EQ(check("\\\\server\\share\\context"), "ok");
    EXPECT_EQ(check("//server/share/context"), "ok");
}

TEST_F(ReparsePointTest, EnsureRefusesDevicePathsWithoutTouchingTheDisk) {
    for (const char* path :
         {"\\\\.\\PhysicalDrive0", "\\\\.\\pipe\\x", "\\\\.\\C:\\Setup\\context",
          "//./pipe/x", "\\\\?\\PhysicalDrive0", "\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x",
          "\\\\?\\Volume{0b1c2d3e-0000-0000-0000-100000000000}\\x", "\\\\?\\C:",
          "\\\\?\\UNC\\server", "\\\\?\\pipe\\x", "//?/C:/x", "\\\\server", "\\\\server\\"}) {
        EXPECT_EQ(check(path), "Installer paths must be absolute.") << path;
    }
    EXPECT_EQ(machine.faults.calls("CreateFileW"), 0);
}

TEST_F(ReparsePointTest, EnsureRefusesALinkAnywhereOnThePath) {
    machine.files.add_directory("D:\\Real\\Sub");
    machine.files.add_junction("C:\\Setup", "D:\\Real");
    machine.files.add_directory("C:\\Plain\\Deeper");
    machine.files.add_symbolic_link("C:\\Plain\\Deeper\\context", "D:\\Real\\x", false);
    EXPECT_EQ(check("C:\\Setup"), link_refused);
    EXPECT_EQ(check("C:\\Setup\\context"), link_refused);
    EXPECT_EQ(check("C:\\Setup\\Sub\\deeper\\context"), link_refused);
    EXPECT_EQ(check("C:\\Plain\\Deeper\\context"), link_refused);
    EXPECT_EQ(check("C:\\Plain\\Deeper\\context\\"), link_refused);
}

TEST_F(ReparsePointTest, EnsureRefusesRelativePathsWithoutTouchingTheDisk) {
    for (const char* path : {"context", "C:context", "\\Setup\\context", ".\\context", ""}) {
        EXPECT_EQ(check(path), "Installer paths must be absolute.") << path;
    }
    EXPECT_EQ(machine.faults.calls("CreateFileW"), 0);
}

TEST_F(ReparsePointTest, TrailingSeparatorsDoNotHideAJunctionThatRefusesToOpen) {
    machine.files.add_junction("C:\\Setup", "D:\\Real").open_error = win::ERROR_ACCESS_DENIED;
    EXPECT_EQ(check("C:\\Setup\\"), link_refused);
    EXPECT_EQ(check("C:\\Setup\\\\"), link_refused);
    EXPECT_EQ(check("C:\\Setup/"), link_refused);
}

TEST_F(ReparsePointTest, EnsureWalksEveryAncestorUpToTheRoot) {
    machine.files.add_directory("C:\\a\\b");
    EXPECT_EQ(check("C:\\a\\b\\c"), "ok");
    EXPECT_EQ(machine.faults.calls("CreateFileW"), 4);  // c, b, a and the root
}

TEST_F(ReparsePointTest, EnsureBelowAPinnedDirectoryLooksOnlyBelowIt) {
    machine.files.add_directory("C:\\a\\b\\c");
    machine.files.add_directory("C:\\a\\bc");
    machine.files.add_directory("D:\\Real");
    machine.files.add_junction("C:\\a\\b\\link", "D:\\Real");
    struct Case {
        const char* path;
        const char* expected;
        int opens;  // the entries looked at
    };
    for (const Case& c : {Case{"C:\\a\\b\\c\\x", "ok", 2},
                          Case{"C:\\a\\b\\link\\x", link_refused, 2},
                          Case{"C:\\a\\b", "ok", 3},          // the pinned one itself: not below
                          Case{"C:\\a\\bc\\x", "ok", 4}}) {  // not below by components
        const int before = machine.faults.calls("CreateFileW");
        const auto result = ensure_no_reparse_points_below(c.path, "C:\\a\\b");
        EXPECT_EQ(result ? "ok" : result.error().message(), c.expected) << c.path;
        EXPECT_EQ(machine.faults.calls("CreateFileW") - before, c.opens) << c.path;
    }
}

TEST_F(ReparsePointTest, EnsurePassesOnInspectionErrors) {
    machine.files.add_directory("C:\\a").open_error = win::ERROR_NOT_READY;
    EXPECT_EQ(check("C:\\a\\b"),
              "Cannot inspect installer path: The device is not ready. (os error 21)");
}

}  // namespace
