// How the simulated Windows deletes files that are open elsewhere or
// read-only: the owned-file cleanup depends on these semantics.
#include "platform/simulated/machine.h"

#include "simulated_test.h"

#include <gtest/gtest.h>

namespace {

constexpr win::DWORD share_all =
    win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;
constexpr win::DWORD posix_delete =
    win::FILE_DISPOSITION_FLAG_DELETE | win::FILE_DISPOSITION_FLAG_POSIX_SEMANTICS;

class SimulatedDeletionTest : public SimulatedTest {
protected:
    // Opens `path` with `access` and sets the extended disposition; the
    // Windows error, or 0 when it was accepted. The handle is closed after.
    win::DWORD dispose(const char16_t* path, win::DWORD access, win::DWORD flags) {
        const win::HANDLE file = win::CreateFileW(path, access, share_all, nullptr,
                                                  win::OPEN_EXISTING,
                                                  win::FILE_FLAG_OPEN_REPARSE_POINT);
        EXPECT_NE(file, win::INVALID_HANDLE_VALUE);
        win::FILE_DISPOSITION_INFO_EX disposition;
        disposition.Flags = flags;
        const bool ok = win::SetFileInformationByHandle(file, win::FileDispositionInfoEx,
                                                        &disposition, sizeof(disposition));
        const win::DWORD error = ok ? 0 : win::GetLastError();
        win::CloseHandle(file);
        return error;
    }
};

TEST_F(SimulatedDeletionTest, APlainDeleteKeepsTheNameWhileAnotherHandleIsOpen) {
    machine.files.add_file("C:\\d\\f", "x");
    const int other = machine.files.hold_open("C:\\d\\f", win::GENERIC_READ, share_all);
    ASSERT_TRUE(win::DeleteFileW(u"C:\\d\\f"));
    EXPECT_TRUE(machine.files.exists("C:\\d\\f"));
    EXPECT_FALSE(win::RemoveDirectoryW(u"C:\\d"));
    EXPECT_EQ(win::GetLastError(), win::ERROR_DIR_NOT_EMPTY);
    machine.files.release(other);
    EXPECT_FALSE(machine.files.exists("C:\\d\\f"));
    EXPECT_TRUE(win::RemoveDirectoryW(u"C:\\d"));
}

TEST_F(SimulatedDeletionTest, APosixDeleteRemovesTheNameWhenItsHandleCloses) {
    machine.files.add_file("C:\\d\\f", "old");
    const int other = machine.files.hold_open("C:\\d\\f", win::GENERIC_READ, share_all);
    EXPECT_EQ(dispose(u"C:\\d\\f", win::DELETE, posix_delete), 0u);
    EXPECT_FALSE(machine.files.exists("C:\\d\\f"));
    // The name is free again while the other program still holds the old file.
    machine.files.add_file("C:\\d\\f", "new");
    machine.files.release(other);
    EXPECT_EQ(machine.files.contents("C:\\d\\f"), "new");
}

TEST_F(SimulatedDeletionTest, ADispositionNeedsDeleteAccessAndMayIgnoreReadOnly) {
    machine.files.add_file("C:\\d\\f").attributes |= win::FILE_ATTRIBUTE_READONLY;
    EXPECT_FALSE(win::DeleteFileW(u"C:\\d\\f"));
    EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(dispose(u"C:\\d\\f", win::FILE_READ_ATTRIBUTES, posix_delete),
              win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(dispose(u"C:\\d\\f", win::DELETE, posix_delete), win::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(machine.files.exists("C:\\d\\f"));
    EXPECT_EQ(dispose(u"C:\\d\\f", win::DELETE,
                      posix_delete | win::FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE),
              0u);
    EXPECT_FALSE(machine.files.exists("C:\\d\\f"));
}

}  // namespace
