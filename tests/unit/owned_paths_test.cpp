#include "engine/owned_paths.h"

#include "migration_scenario.h"

#include <gtest/gtest.h>

using installer_helper::open_migration_target;
using installer_helper::owned_path;

namespace {

constexpr const char* escaped = "Installer path escaped the installation directory.";
constexpr const char* link_refused = "A junction or symbolic link cannot be modified by setup.";
constexpr const char* mismatch =
    "The migration context does not match the installation or original user.";
constexpr const char* unavailable = "The installation directory is unavailable.";

class OwnedPathTest : public MigrationTest {
protected:
    std::string path_or_error(std::string_view relative) {
        const auto path = owned_path(target(), relative);
        return path ? path->path() : path.error().message();
    }
};

TEST_F(OwnedPathTest, AppendsEachComponentBelowTheInstallation) {
    EXPECT_EQ(path_or_error("resources/app.asar"), installed("resources\\app.asar"));
    EXPECT_EQ(path_or_error("Uninstall Quillmora Launcher.exe"),
              installed("Uninstall Quillmora Launcher.exe"));
}

TEST_F(OwnedPathTest, RefusesNamesThatCouldLeaveOrNameTheInstallation) {
    using namespace std::string_view_literals;
    for (const std::string_view relative : std::initializer_list<std::string_view>{
             "", "/app.asar", "resources/", "resources//app.asar", ".", "..", "./app.asar",
             "resources/../../Other", "..\\Other", "resources\\app.asar", "D:x", "a:b",
             "app\0.asar"sv, "...", "resources./app.asar", "app.asar "}) {
        EXPECT_EQ(path_or_error(relative), escaped) << relative;
    }
}

TEST_F(OwnedPathTest, RefusesAJunctionAnywhereFromTheDriveRoot) {
    machine.files.add_file("D:\\Elsewhere\\app.asar", "keep");
    const auto opened = target();
    machine.files.add_junction(installed("resources"), "D:\\Elsewhere");
    EXPECT_EQ(outcome_of(owned_path(opened, "resources/app.asar")), link_refused);
    machine.files.add_symbolic_link(installed("icudtl.dat"), "D:\\Elsewhere\\app.asar", false);
    EXPECT_EQ(outcome_of(owned_path(opened, "icudtl.dat")), link_refused);
}

// While a target is open, its directory and every one above it are pinned:
// none of them can be renamed or removed to make way for a junction.
TEST_F(OwnedPathTest, AnOpenTargetPinsItsDirectoryAndEveryOneAbove) {
    machine.files.add_directory("C:\\Parked");
    const auto opened = target();
    for (const std::string directory : {"C:\\Games\\Quillmora", "C:\\Games"}) {
        EXPECT_FALSE(win::MoveFileExW(u16(directory).c_str(), u16("C:\\Parked\\x").c_str(), 0));
        EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION) << directory;
        EXPECT_FALSE(win::RemoveDirectoryW(u16(directory).c_str()));
    }
    // A pin does not keep anyone from working inside the directory.
    machine.files.add_file(installed("ffmpeg.dll"));
    ASSERT_TRUE(win::DeleteFileW(u16(installed("ffmpeg.dll")).c_str()));
}

TEST_F(OwnedPathTest, OpenMigrationTargetChecksTheContextThenTheDirectory) {
    machine.files.add_file("C:\\Games\\file");
    machine.files.add_directory("D:\\Real\\Quillmora");
    machine.files.add_junction("C:\\Linked", "D:\\Real");
    machine.files.add_junction("C:\\Games\\Junction", "D:\\Real\\Quillmora");
    const struct {
        std::string_view argument, context_directory, sid;
        const char* outcome;
    } cases[] = {
        {migration_directory, migration_directory, migration_sid, "ok"},
        {migration_directory, "C:\\Games\\Other", migration_sid, mismatch},
        {migration_directory, migration_directory, "S-1-5-18", mismatch},
        {migration_directory, migration_directory, "S-1-5-21-", mismatch},
        {"Games\\Quillmora", "Games\\Quillmora", migration_sid,
         "The installation path must be an absolute local path."},
        {"C:\\Games\\Missing", "C:\\Games\\Missing", migration_sid, unavailable},
        {"C:\\Games\\file", "C:\\Games\\file", migration_sid, unavailable},
        {"C:\\Games\\Junction", "C:\\Games\\Junction", migration_sid, link_refused},
        {"C:\\Linked\\Quillmora", "C:\\Linked\\Quillmora", migration_sid, link_refused},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcome_of(open_migration_target(
                      c.argument, migration_context(c.context_directory, c.sid))),
                  c.outcome)
            << c.argument << " " << c.context_directory << " " << c.sid;
    }
    // The target holds the normalised argument, however it was spelt.
    const auto opened = open_migration_target("c:\\games\\.\\QUILLMORA\\", migration_context());
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->directory(), "c:\\games\\QUILLMORA");
    EXPECT_EQ(opened->context(), migration_context());
}

}  // namespace
