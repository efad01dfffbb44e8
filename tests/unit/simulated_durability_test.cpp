// What the simulated Windows keeps through a crash, and the rename that the
// recovery journal relies on: pinned down here so that the crash tests above
// it prove something about Windows.
#include "platform/simulated/machine.h"

#include "simulated_test.h"

#include <gtest/gtest.h>

namespace {

using Restart = sim::Machine::Restart;

constexpr win::DWORD share_all =
    win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;
constexpr win::DWORD replace_durably = win::MOVEFILE_REPLACE_EXISTING | win::MOVEFILE_WRITE_THROUGH;

class SimulatedDurabilityTest : public SimulatedTest {
protected:
    SimulatedDurabilityTest() {
        machine.files.add_file("C:\\d\\old", "old");
        machine.files.add_file("C:\\d\\new", "new");
    }

    // Creates a file, writes it and closes it; flushed before closing if asked.
    void create(std::u16string path, std::string_view bytes, bool flush) {
        const win::HANDLE file = win::CreateFileW(path.c_str(), win::GENERIC_WRITE, share_all,
                                                  nullptr, win::CREATE_NEW, 0);
        ASSERT_NE(file, win::INVALID_HANDLE_VALUE);
        win::DWORD written = 0;
        ASSERT_TRUE(
            win::WriteFile(file, bytes.data(), static_cast<win::DWORD>(bytes.size()), &written));
        if (flush) {
            ASSERT_TRUE(win::FlushFileBuffers(file));
        }
        win::CloseHandle(file);
    }

    // "name=contents" for each entry of C:\d, in listing order.
    std::string entries() {
        std::string all;
        for (const std::string& name : machine.files.list("C:\\d"))
            all += name + "=" + machine.files.contents("C:\\d\\" + name) + " ";
        return all;
    }
};

TEST_F(SimulatedDurabilityTest, AProcessCrashKeepsEveryCompletedCall) {
    create(u"C:\\d\\unflushed", "data", false);
    ASSERT_TRUE(win::MoveFileExW(u"C:\\d\\new", u"C:\\d\\old", win::MOVEFILE_REPLACE_EXISTING));
    machine.restart(Restart::clean);
    EXPECT_EQ(entries(), "old=new unflushed=data ");
}

TEST_F(SimulatedDurabilityTest, APowerLossUndoesNameChangesThatNothingForced) {
    create(u"C:\\d\\unflushed", "data", false);
    ASSERT_TRUE(win::MoveFileExW(u"C:\\d\\new", u"C:\\d\\old", win::MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(win::CreateDirectoryW(u"C:\\d\\sub", nullptr));
    ASSERT_TRUE(win::SetFileAttributesW(u"C:\\d\\old", win::FILE_ATTRIBUTE_READONLY));
    machine.restart(Restart::power_loss);
    EXPECT_EQ(entries(), "new=new old=old ");
    EXPECT_EQ(machine.files.find("C:\\d\\old")->attributes, win::FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(SimulatedDurabilityTest, AFlushForcesEveryEarlierNameChangeButOnlyItsOwnData) {
    create(u"C:\\d\\unflushed", "lost", false);
    ASSERT_TRUE(win::DeleteFileW(u"C:\\d\\new"));
    create(u"C:\\d\\flushed", "kept", true);
    ASSERT_TRUE(win::DeleteFileW(u"C:\\d\\old"));  // after the flush: undone
    machine.restart(Restart::power_loss);
    EXPECT_EQ(entries(), "flushed=kept old=old unflushed= ");
}

TEST_F(SimulatedDurabilityTest, AWriteThroughReplaceIsOnDiskWhenItReturns) {
    ASSERT_TRUE(win::MoveFileExW(u"C:\\d\\new", u"C:\\d\\old", replace_durably));
    machine.restart(Restart::power_loss);
    EXPECT_EQ(entries(), "old=new ");
}

TEST_F(SimulatedDurabilityTest, AReplacedFileWithUnflushedDataComesBackEmpty) {
    // The rename is durable, the data it carries is not: the reason a new
    // journal is flushed before it replaces the old one.
    create(u"C:\\d\\staged", "never flushed", false);
    ASSERT_TRUE(win::MoveFileExW(u"C:\\d\\staged", u"C:\\d\\old", replace_durably));
    machine.restart(Restart::power_loss);
    EXPECT_EQ(entries(), "new=new old= ");
}

TEST(SimulatedPowerLoss, KeepsAPrefixOfTheUnforcedChanges) {
    const std::vector<std::string> after_each{"new=new old=old ", "new=new old=old sub= ",
                                              "old=new sub= ", "sub= "};
    for (std::size_t kept = 0; kept < after_each.size(); ++kept) {
        sim::Machine machine;
        sim::ScopedMachine installed(machine);
        machine.files.add_file("C:\\d\\old", "old");
        machine.files.add_file("C:\\d\\new", "new");
        ASSERT_TRUE(win::CreateDirectoryW(u"C:\\d\\sub", nullptr));
        ASSERT_TRUE(
            win::MoveFileExW(u"C:\\d\\new", u"C:\\d\\old", win::MOVEFILE_REPLACE_EXISTING));
        ASSERT_TRUE(win::DeleteFileW(u"C:\\d\\old"));
        ASSERT_EQ(machine.files.unforced_changes(), 3u);
        machine.restart(Restart::power_loss, {.kept_changes = kept});
        std::string all;
        for (const std::string& name : machine.files.list("C:\\d"))
            all += name + "=" + machine.files.contents("C:\\d\\" + name) + " ";
        EXPECT_EQ(all, after_each[kept]) << kept << " changes kept";
    }
}

TEST(SimulatedPowerLoss, UnflushedDataComesBackOldEmptyOrTorn) {
    using Data = sim::FileSystem::PowerLoss::Data;
    for (const Data data : {Data::old, Data::empty, Data::torn}) {
        sim::Machine machine;
        sim::ScopedMachine installed(machine);
        machine.files.add_file("C:\\d\\old", "old");
        const win::HANDLE file = win::CreateFileW(u"C:\\d\\old", win::GENERIC_WRITE, share_all,
                                                  nullptr, win::OPEN_EXISTING, 0);
        win::DWORD written = 0;
        ASSERT_TRUE(win::WriteFile(file, "rewritten", 9, &written));
        machine.restart(Restart::power_loss, {.data = data, .seed = 7});
        const std::string contents = machine.files.contents("C:\\d\\old");
        if (data == Data::old) {
            EXPECT_EQ(contents, "old");
        } else if (data == Data::empty) {
            EXPECT_EQ(contents, "");
        } else {
            // Some of the new bytes, then zeros up to the new length.
            const std::size_t reached = contents.find('\0');
            ASSERT_NE(reached, std::string::npos);
            EXPECT_EQ(contents.size(), 9u);
            EXPECT_EQ(contents.substr(0, reached), std::string("rewritten").substr(0, reached));
            EXPECT_EQ(contents.substr(reached), std::string(9 - reached, '\0'));
        }
    }
}

struct ReplaceCase {
    const char* name;
    std::function<void(sim::FileSystem&)> arrange;
    win::DWORD error;  // 0: the move succeeds
};

class SimulatedReplaceTest : public SimulatedDurabilityTest,
                             public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(SimulatedReplaceTest, MovesOnlyWhatWindowsWouldMove) {
    GetParam().arrange(machine.files);
    const bool moved = win::MoveFileExW(u"C:\\d\\new", u"C:\\d\\old", replace_durably);
    EXPECT_EQ(moved, GetParam().error == 0);
    if (!moved) {
        EXPECT_EQ(win::GetLastError(), GetParam().error);
        EXPECT_EQ(entries(), "new=new old=old ");
    } else {
        EXPECT_EQ(entries(), "old=new ");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimulatedReplaceTest,
    ::testing::Values(
        // The destination: the old rename semantics of MoveFileExW never
        // replace a file that is open, whatever it shares.
        ReplaceCase{
            "DestinationOpenSharingAll",
            [](auto& files) { files.hold_open("C:\\d\\old", win::GENERIC_READ, share_all); },
            win::ERROR_ACCESS_DENIED},
        ReplaceCase{"DestinationOpenWithoutDeleteSharing",
                    [](auto& files) {
                        files.hold_open("C:\\d\\old", win::GENERIC_READ, win::FILE_SHARE_READ);
                    },
                    win::ERROR_ACCESS_DENIED},
        ReplaceCase{"DestinationReadOnly",
                    [](auto& files) {
                        files.find("C:\\d\\old")->attributes |= win::FILE_ATTRIBUTE_READONLY;
                    },
                    win::ERROR_ACCESS_DENIED},
        // The source is opened for deletion, so others must share that.
        ReplaceCase{"SourceOpenWithoutDeleteSharing",
                    [](auto& files) {
                        files.hold_open("C:\\d\\new", win::GENERIC_READ,
                                        win::FILE_SHARE_READ | win::FILE_SHARE_WRITE);
                    },
                    win::ERROR_SHARING_VIOLATION},
        ReplaceCase{
            "SourceOpenSharingAll",
            [](auto& files) { files.hold_open("C:\\d\\new", win::GENERIC_READ, share_all); }, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimulatedDurabilityTest, EveryChangingFileCallCanBeTheCrashPoint) {
    machine.files.add_directory("C:\\d\\empty");
    using Call = std::function<win::BOOL(win::HANDLE)>;
    const std::vector<std::pair<const char*, Call>> calls{
        {"CreateFileW",
         [](win::HANDLE) {
             return win::CreateFileW(u"C:\\d\\created", win::GENERIC_WRITE, share_all, nullptr,
                                     win::CREATE_NEW, 0) != win::INVALID_HANDLE_VALUE;
         }},
        {"WriteFile",
         [](win::HANDLE file) {
             win::DWORD written = 0;
             return win::WriteFile(file, "x", 1, &written);
         }},
        {"FlushFileBuffers", [](win::HANDLE file) { return win::FlushFileBuffers(file); }},
        {"SetFileInformationByHandle",
         [](win::HANDLE file) {
             win::FILE_DISPOSITION_INFO_EX disposition;
             disposition.Flags = win::FILE_DISPOSITION_FLAG_DELETE;
             return win::SetFileInformationByHandle(file, win::FileDispositionInfoEx, &disposition,
                                                    sizeof(disposition));
         }},
        {"CreateDirectoryW",
         [](win::HANDLE) { return win::CreateDirectoryW(u"C:\\d\\sub", nullptr); }},
        {"RemoveDirectoryW", [](win::HANDLE) { return win::RemoveDirectoryW(u"C:\\d\\empty"); }},
        {"SetFileAttributesW",
         [](win::HANDLE) {
             return win::SetFileAttributesW(u"C:\\d\\old", win::FILE_ATTRIBUTE_HIDDEN);
         }},
        {"MoveFileExW",
         [](win::HANDLE) {
             return win::MoveFileExW(u"C:\\d\\old", u"C:\\d\\moved", replace_durably);
         }},
        {"DeleteFileW", [](win::HANDLE) { return win::DeleteFileW(u"C:\\d\\old"); }},
    };
    const std::string before = entries();
    for (const auto& [name, call] : calls) {
        const win::HANDLE file = win::CreateFileW(u"C:\\d\\new", win::GENERIC_WRITE | win::DELETE,
                                                  share_all, nullptr, win::OPEN_EXISTING, 0);
        machine.crash_at_change(1);
        EXPECT_FALSE(call(file)) << name;
        EXPECT_TRUE(machine.crashed()) << name;
        machine.restart(Restart::clean);  // also closes the handle
        EXPECT_EQ(entries(), before) << name;
        EXPECT_EQ(machine.files.find("C:\\d\\old")->attributes, win::FILE_ATTRIBUTE_ARCHIVE)
            << name;
    }
}

}  // namespace
