#include "engine/owned_trees.h"

#include "engine/directory_listing.h"
#include "migration_scenario.h"

#include <gtest/gtest.h>

#include <functional>

using installer_helper::list_directory;
using installer_helper::OWNED_FILES;
using installer_helper::remove_owned_launcher_files;

namespace {

constexpr const char* link_refused = "A junction or symbolic link cannot be modified by setup.";
constexpr const char* changed = "An owned directory changed during cleanup.";

class OwnedTreeTest : public MigrationTest {
protected:
    // Every path below `root`, parents first, links not entered.
    std::vector<std::string> tree_of(const std::string& root) {
        std::vector<std::string> paths;
        for (const std::string& name : machine.files.list(root)) {
            paths.push_back(root + "\\" + name);
            const sim::Node& node = *machine.files.find(paths.back());
            if (!node.is_directory() || node.is_reparse_point()) continue;
            const auto below = tree_of(paths.back());
            paths.insert(paths.end(), below.begin(), below.end());
        }
        return paths;
    }

    // Three levels: locales\a.pak, locales\sub\b.pak, locales\sub\deeper\c.pak.
    void add_locales() {
        for (const char* file : {"a.pak", "sub\\b.pak", "sub\\deeper\\c.pak"})
            machine.files.add_file(installed("locales\\" + std::string(file)));
    }
};

TEST_F(OwnedTreeTest, ListsEntriesInEnumerationOrder) {
    machine.files.add_directory(installed("empty"));
    add_locales();
    EXPECT_EQ(list_directory(installed("empty")).value(), std::vector<std::string>{});
    EXPECT_EQ(list_directory(installed("locales")).value(),
              (std::vector<std::string>{installed("locales\\a.pak"), installed("locales\\sub")}));
    EXPECT_EQ(outcome_of(list_directory(installed("missing"))),
              "Cannot inspect installer directory: The system cannot find the path specified. "
              "(os error 3)");
    machine.faults.fail_nth("FindNextFileW", 2, win::ERROR_NOT_READY);
    EXPECT_EQ(outcome_of(list_directory(installed("locales"))),
              "The device is not ready. (os error 21)");
}

// Taking a tree down holds the directories above the entry at hand, not
// every directory seen: as many handles for 40 directories side by side as
// for one.
TEST_F(OwnedTreeTest, HandlesHeldDoNotGrowWithTheTree) {
    const auto most_handles_open = [this](int directories) {
        for (int i = 0; i < directories; ++i)
            machine.files.add_file(installed("locales\\d" + std::to_string(i) + "\\a.pak"));
        std::size_t most = 0;
        machine.faults.before_each_call(
            [&](std::string_view) { most = std::max(most, machine.open_handle_count()); });
        EXPECT_EQ(outcome_of(remove_owned_launcher_files(target())), "ok");
        machine.faults.clear();
        EXPECT_FALSE(machine.files.exists(installed("locales")));
        return most;
    };
    EXPECT_EQ(most_handles_open(40), most_handles_open(1));
}

TEST_F(OwnedTreeTest, RemovesExactlyTheOwnedFilesAndTrees) {
    for (const std::string_view name : OWNED_FILES) machine.files.add_file(installed(name));
    machine.files.find(installed("ffmpeg.dll"))->attributes |= win::FILE_ATTRIBUTE_READONLY;
    add_locales();
    machine.files.add_file(installed("resources\\app.asar.unpacked\\node_modules\\m\\index.js"));
    machine.files.add_file(installed("resources\\native"), "a file where a tree was");
    const std::vector<std::string> kept{
        installed("Quillmora Launcher.exe"), installed("QuillmoraClientServices.exe"),
        installed("resources"), installed("resources\\settings.json"), installed("uninstall.exe")};
    for (const std::string& path : kept)
        if (path != installed("resources")) machine.files.add_file(path);

    // Every deletion goes through a handle to the entry.
    machine.faults.record({"DeleteFileW", "RemoveDirectoryW", "SetFileInformationByHandle"});
    ASSERT_EQ(outcome_of(remove_owned_launcher_files(target())), "ok");
    EXPECT_EQ(tree_of(std::string(migration_directory)), kept);
    // Each directory goes after everything in it, the owned directory last.
    std::vector<std::string> in_locales;
    for (const std::string& call : machine.faults.recorded()) {
        EXPECT_TRUE(call.starts_with("SetFileInformationByHandle ")) << call;
        if (call.find("\\locales") != std::string::npos) in_locales.push_back(call.substr(27));
    }
    EXPECT_EQ(in_locales,
              (std::vector<std::string>{installed("locales\\a.pak"), installed("locales\\sub\\b.pak"),
                                        installed("locales\\sub\\deeper\\c.pak"),
                                        installed("locales\\sub\\deeper"), installed("locales\\sub"),
                                        installed("locales")}));
    EXPECT_EQ(machine.faults.recorded().back(),
              "SetFileInformationByHandle " + installed("resources\\native"));
    // Nothing is left to do: a second run succeeds.
    EXPECT_EQ(outcome_of(remove_owned_launcher_files(target())), "ok");
}

// A junction from the installation down to an owned entry, made after the
// target was opened.
class OwnedLinkTest : public OwnedTreeTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(OwnedLinkTest, StopsTheCleanupAndNothingBehindItGoes) {
    const std::vector<std::string> elsewhere{"D:\\Elsewhere\\app.asar", "D:\\Elsewhere\\en-US.pak",
                                             "D:\\Elsewhere\\icudtl.dat"};
    for (const std::string& path : elsewhere) machine.files.add_file(path);
    const auto opened = target();
    machine.files.add_junction(installed(GetParam()), "D:\\Elsewhere");
    EXPECT_EQ(outcome_of(remove_owned_launcher_files(opened)), link_refused);
    EXPECT_EQ(tree_of("D:\\Elsewhere"), elsewhere);
}

INSTANTIATE_TEST_SUITE_P(Cases, OwnedLinkTest,
                         ::testing::Values("resources", "locales", "resources/native/lib"));

// Another program changes a tree while its top directory is being read:
// right before the first deletion, that of locales\a.pak. The listing of
// locales has already shown a.pak, sub and z.pak.
struct ChangeCase {
    const char* name;
    std::function<void(sim::FileSystem&)> change;
    const char* outcome;
    const char* left_in_place;
};

class ChangedTreeTest : public OwnedTreeTest, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ChangedTreeTest, TheCheckBeforeEachDeletionStopsTheCleanup) {
    add_locales();
    machine.files.add_file(installed("locales\\z.pak"));
    machine.files.add_file("D:\\Elsewhere\\keep.txt");
    machine.faults.before_call("SetFileInformationByHandle", 1,
                               [this] { GetParam().change(machine.files); });
    EXPECT_EQ(outcome_of(remove_owned_launcher_files(target())), GetParam().outcome);
    EXPECT_FALSE(machine.files.exists(installed("locales\\a.pak")));
    EXPECT_TRUE(machine.files.exists(installed(GetParam().left_in_place)));
    EXPECT_TRUE(machine.files.exists("D:\\Elsewhere\\keep.txt"));
}

void erase(const char* relative) { win::DeleteFileW(u16(installed(relative)).c_str()); }

INSTANTIATE_TEST_SUITE_P(
    Cases, ChangedTreeTest,
    ::testing::Values(
        ChangeCase{"Added", [](auto& files) { files.add_file(installed("locales\\n")); },
                   "Cannot remove empty owned directory: The directory is not empty. (os error "
                   "145)",
                   "locales\\n"},
        ChangeCase{"Removed", [](auto&) { erase("locales\\z.pak"); }, changed, "locales"},
        ChangeCase{"BecameADirectory",
                   [](auto& files) {
                       erase("locales\\z.pak");
                       files.add_directory(installed("locales\\z.pak"));
                   },
                   changed, "locales\\z.pak"},
        ChangeCase{"BecameAJunction",
                   [](auto& files) {
                       erase("locales\\z.pak");
                       files.add_junction(installed("locales\\z.pak"), "D:\\Elsewhere");
                   },
                   link_refused, "locales\\z.pak"},
        ChangeCase{"DirectoryBecameAJunction",
                   [](auto& files) {
                       ASSERT_EQ(files.rename_as_other(installed("locales\\sub"),
                                                       installed("locales\\parked")),
                                 0u);
                       files.add_junction(installed("locales\\sub"), "D:\\Elsewhere");
                   },
                   link_refused, "locales\\parked\\deeper\\c.pak"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
