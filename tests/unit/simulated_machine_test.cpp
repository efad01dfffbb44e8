// The simulated Windows must behave as Windows does where the helper's
// safety depends on it: these tests pin the model down.
#include "platform/simulated/machine.h"

#include "simulated_test.h"

#include <gtest/gtest.h>

namespace {

using win::HANDLE;

constexpr win::DWORD share_all =
    win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;

class SimulatedMachineTest : public SimulatedTest {
protected:
    HANDLE open(std::u16string path, win::DWORD access, win::DWORD share,
                win::DWORD disposition = win::OPEN_EXISTING, win::DWORD flags = 0) {
        return win::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags);
    }
    void write(HANDLE file, std::string_view bytes) {
        win::DWORD written = 0;
        ASSERT_TRUE(win::WriteFile(file, bytes.data(), static_cast<win::DWORD>(bytes.size()), &written));
        ASSERT_EQ(written, bytes.size());
    }
};

TEST_F(SimulatedMachineTest, NamesAreCaseInsensitiveAndKeepTheirCase) {
    machine.files.add_file("C:\\Games\\Launcher.EXE", "MZ");
    HANDLE file = open(u"c:\\GAMES\\launcher.exe", win::GENERIC_READ, share_all);
    ASSERT_NE(file, win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(machine.files.list("C:\\Games"), std::vector<std::string>{"Launcher.EXE"});
    win::CloseHandle(file);
}

TEST_F(SimulatedMachineTest, SharingViolations) {
    machine.files.add_file("C:\\f", "x");
    HANDLE exclusive = open(u"C:\\f", win::GENERIC_READ, 0);
    ASSERT_NE(exclusive, win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(u"C:\\f", win::GENERIC_READ, share_all), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
    // Attribute-only opens do not conflict.
    HANDLE attributes = open(u"C:\\f", 0, share_all);
    EXPECT_NE(attributes, win::INVALID_HANDLE_VALUE);
    EXPECT_FALSE(win::DeleteFileW(u"C:\\f"));
    EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
    win::CloseHandle(attributes);
    win::CloseHandle(exclusive);
    EXPECT_TRUE(win::DeleteFileW(u"C:\\f"));
}

// Windows' share-access rule: an opening without read, write or delete
// access imposes its share mode on no one; one with read access that does
// not share deletion keeps everyone from renaming or deleting the entry,
// a directory included, while entries inside stay free.
TEST_F(SimulatedMachineTest, OnlyOpeningsWithDataAccessImposeTheirShareMode) {
    machine.files.add_file("C:\\d\\f", "x");
    HANDLE unshared_attributes = open(u"C:\\d\\f", 0, 0);
    ASSERT_NE(unshared_attributes, win::INVALID_HANDLE_VALUE);
    HANDLE reader = open(u"C:\\d\\f", win::GENERIC_READ, share_all);
    EXPECT_NE(reader, win::INVALID_HANDLE_VALUE);
    win::CloseHandle(reader);
    win::CloseHandle(unshared_attributes);

    HANDLE pin = open(u"C:\\d", win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                      win::OPEN_EXISTING, win::FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(pin, win::INVALID_HANDLE_VALUE);
    EXPECT_FALSE(win::MoveFileExW(u"C:\\d", u"C:\\e", 0));
    EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
    EXPECT_EQ(machine.files.rename_as_other("C:\\d", "C:\\e"), win::ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(win::DeleteFileW(u"C:\\d\\f"));
    EXPECT_EQ(machine.files.delete_as_other("C:\\d"), win::ERROR_SHARING_VIOLATION);
    // A rename into a directory opens it for writing: one held without
    // sharing write takes no new names.
    machine.files.add_file("C:\\g", "x");
    EXPECT_TRUE(win::MoveFileExW(u"C:\\g", u"C:\\d\\g", 0));
    HANDLE unwritable = open(u"C:\\d", win::GENERIC_READ, win::FILE_SHARE_READ,
                             win::OPEN_EXISTING, win::FILE_FLAG_BACKUP_SEMANTICS);
    EXPECT_FALSE(win::MoveFileExW(u"C:\\d\\g", u"C:\\d\\h", 0));
    EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
    win::CloseHandle(unwritable);
    win::CloseHandle(pin);
    EXPECT_EQ(machine.files.rename_as_other("C:\\d", "C:\\e"), 0u);
}

TEST_F(SimulatedMachineTest, DeleteOfAnOpenFileIsPendingUntilTheLastClose) {
    machine.files.add_file("C:\\f", "x");
    HANDLE file = open(u"C:\\f", win::GENERIC_READ, share_all);
    ASSERT_TRUE(win::DeleteFileW(u"C:\\f"));
    EXPECT_TRUE(machine.files.exists("C:\\f"));
    EXPECT_EQ(open(u"C:\\f", win::GENERIC_READ, share_all), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
    win::CloseHandle(file);
    EXPECT_FALSE(machine.files.exists("C:\\f"));
}

TEST_F(SimulatedMachineTest, JunctionsAreFollowedUnlessTheLastComponentIsOpenedAsAReparsePoint) {
    machine.files.add_file("D:\\Real\\inside.txt", "data");
    machine.files.add_junction("C:\\Link", "D:\\Real");
    HANDLE through = open(u"C:\\Link\\inside.txt", win::GENERIC_READ, share_all);
    ASSERT_NE(through, win::INVALID_HANDLE_VALUE);
    win::BY_HANDLE_FILE_INFORMATION information;
    ASSERT_TRUE(win::GetFileInformationByHandle(through, &information));
    EXPECT_EQ(information.nFileSizeLow, 4u);
    win::CloseHandle(through);

    HANDLE link = open(u"C:\\Link", 0, share_all, win::OPEN_EXISTING,
                       win::FILE_FLAG_BACKUP_SEMANTICS | win::FILE_FLAG_OPEN_REPARSE_POINT);
    ASSERT_TRUE(win::GetFileInformationByHandle(link, &information));
    EXPECT_NE(information.dwFileAttributes & win::FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    win::CloseHandle(link);
    // Removing a junction removes the link, not the target's contents.
    EXPECT_TRUE(win::RemoveDirectoryW(u"C:\\Link"));
    EXPECT_TRUE(machine.files.exists("D:\\Real\\inside.txt"));
}

TEST_F(SimulatedMachineTest, DirectoriesNeedBackupSemanticsAndAreNotFiles) {
    machine.files.add_directory("C:\\d");
    EXPECT_EQ(open(u"C:\\d", 0, share_all), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(win::DeleteFileW(u"C:\\d"));
    EXPECT_FALSE(win::CreateDirectoryW(u"C:\\d", nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_ALREADY_EXISTS);
    machine.files.add_file("C:\\d\\x");
    EXPECT_FALSE(win::RemoveDirectoryW(u"C:\\d"));
    EXPECT_EQ(win::GetLastError(), win::ERROR_DIR_NOT_EMPTY);
}

TEST_F(SimulatedMachineTest, SearchListsDotEntriesThenNamesInOrder) {
    machine.files.add_file("C:\\d\\b");
    machine.files.add_file("C:\\d\\A");
    win::WIN32_FIND_DATAW data;
    HANDLE search = win::FindFirstFileExW(u"C:\\d\\*", win::FindExInfoBasic, &data,
                                          win::FindExSearchNameMatch, 0);
    ASSERT_NE(search, win::INVALID_HANDLE_VALUE);
    std::vector<std::u16string> names{data.cFileName};
    while (win::FindNextFileW(search, &data)) names.emplace_back(data.cFileName);
    EXPECT_EQ(win::GetLastError(), win::ERROR_NO_MORE_FILES);
    EXPECT_EQ(names, (std::vector<std::u16string>{u".", u"..", u"A", u"b"}));
    win::FindClose(search);
}

TEST_F(SimulatedMachineTest, MovesReplaceOnlyWhenAsked) {
    machine.files.add_file("C:\\d\\new", "new");
    machine.files.add_file("C:\\d\\old", "old");
    EXPECT_FALSE(win::MoveFileExW(u"C:\\d\\new", u"C:\\d\\old", 0));
    EXPECT_EQ(win::GetLastError(), win::ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(win::MoveFileExW(u"C:\\d\\new", u"C:\\d\\old",
                                 win::MOVEFILE_REPLACE_EXISTING | win::MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(machine.files.contents("C:\\d\\old"), "new");
    EXPECT_FALSE(machine.files.exists("C:\\d\\new"));
}

TEST_F(SimulatedMachineTest, PowerLossDropsWhatWasNotFlushed) {
    machine.files.add_directory("C:\\d");
    HANDLE flushed = open(u"C:\\d\\flushed", win::GENERIC_WRITE, 0, win::CREATE_NEW);
    HANDLE unflushed = open(u"C:\\d\\unflushed", win::GENERIC_WRITE, 0, win::CREATE_NEW);
    write(flushed, "kept");
    ASSERT_TRUE(win::FlushFileBuffers(flushed));  // both names are on disk from here
    write(flushed, " and lost");
    write(unflushed, "lost");
    machine.restart(sim::Machine::Restart::power_loss);
    EXPECT_EQ(machine.files.contents("C:\\d\\flushed"), "kept");
    EXPECT_EQ(machine.files.contents("C:\\d\\unflushed"), "");
    EXPECT_EQ(machine.open_handle_count(), 0u);
}

TEST_F(SimulatedMachineTest, CrashStopsTheRunAtTheNthChange) {
    machine.files.add_directory("C:\\d");
    machine.crash_at_change(2);
    EXPECT_TRUE(win::CreateDirectoryW(u"C:\\d\\one", nullptr));
    EXPECT_FALSE(win::CreateDirectoryW(u"C:\\d\\two", nullptr));
    EXPECT_TRUE(machine.crashed());
    // Nothing changes any more, and reads fail too, until the restart.
    EXPECT_FALSE(win::CreateDirectoryW(u"C:\\d\\three", nullptr));
    EXPECT_EQ(open(u"C:\\d\\one", 0, share_all, win::OPEN_EXISTING, win::FILE_FLAG_BACKUP_SEMANTICS),
              win::INVALID_HANDLE_VALUE);
    machine.restart(sim::Machine::Restart::clean);
    EXPECT_EQ(machine.files.list("C:\\d"), std::vector<std::string>{"one"});
    EXPECT_TRUE(win::CreateDirectoryW(u"C:\\d\\two", nullptr));
}

TEST_F(SimulatedMachineTest, FaultsHitTheNthMatchingCall) {
    machine.files.add_directory("C:\\d");
    machine.faults.fail_nth("CreateDirectoryW", 2, win::ERROR_DISK_FULL, u"c:\\D\\b");
    EXPECT_TRUE(win::CreateDirectoryW(u"C:\\d\\a", nullptr));
    EXPECT_TRUE(win::CreateDirectoryW(u"C:\\d\\b", nullptr));
    EXPECT_TRUE(win::RemoveDirectoryW(u"C:\\d\\b"));
    EXPECT_FALSE(win::CreateDirectoryW(u"C:\\d\\b", nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_DISK_FULL);
    EXPECT_TRUE(win::CreateDirectoryW(u"C:\\d\\b", nullptr));
    EXPECT_EQ(machine.faults.calls("CreateDirectoryW"), 4);
}

TEST_F(SimulatedMachineTest, SidTextIsReadLenientlyAndPrintedCanonically) {
    win::PSID sid = nullptr;
    ASSERT_TRUE(win::ConvertStringSidToSidW(u"s-1-5-021", &sid));
    char16_t* text = nullptr;
    ASSERT_TRUE(win::ConvertSidToStringSidW(sid, &text));
    EXPECT_EQ(std::u16string(text), u"S-1-5-21");
    win::LocalFree(text);
    win::LocalFree(sid);
    EXPECT_FALSE(win::ConvertStringSidToSidW(u"S-1-5-21 ", &sid));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_SID);
}

}  // namespace
