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

// Sets the extended disposition through a handle opened with `access`,
// closes it, and gives the Windows error (0 when accepted).
win::DWORD dispose(const char16_t* path, win::DWORD access, win::DWORD flags) {
    const win::HANDLE file = win::CreateFileW(path, access, share_all, nullptr, win::OPEN_EXISTING,
                                              win::FILE_FLAG_OPEN_REPARSE_POINT);
    win::FILE_DISPOSITION_INFO_EX disposition;
    disposition.Flags = flags;
    const bool ok = win::SetFileInformationByHandle(file, win::FileDispositionInfoEx, &disposition,
                                                    sizeof(disposition));
    const win::DWORD error = ok ? 0 : win::GetLastError();
    win::CloseHandle(file);
    return error;
}

using SimulatedDeletionTest = SimulatedTest;

TEST_F(SimulatedDeletionTest, OnlyAPosixDeleteFreesTheNameWhileAnotherHandleIsOpen) {
    machine.files.add_file("C:\\d\\plain", "x");
    int other = machine.files.hold_open("C:\\d\\plain", win::GENERIC_READ, share_all);
    ASSERT_TRUE(win::DeleteFileW(u"C:\\d\\plain"));
    EXPECT_FALSE(win::RemoveDirectoryW(u"C:\\d"));
    EXPECT_EQ(win::GetLastError(), win::ERROR_DIR_NOT_EMPTY);
    machine.files.release(other);
    EXPECT_FALSE(machine.files.exists("C:\\d\\plain"));

    machine.files.add_file("C:\\d\\posix", "old");
    other = machine.files.hold_open("C:\\d\\posix", win::GENERIC_READ, share_all);
    EXPECT_EQ(dispose(u"C:\\d\\posix", win::DELETE, posix_delete), 0u);
    EXPECT_FALSE(machine.files.exists("C:\\d\\posix"));
    // The name is free while the other program still holds the old file.
    machine.files.add_file("C:\\d\\posix", "new");
    machine.files.release(other);
    EXPECT_EQ(machine.files.contents("C:\\d\\posix"), "new");
}

TEST_F(SimulatedDeletionTest, ADispositionNeedsDeleteAccessAndMayIgnoreReadOnly) {
    machine.files.add_file("C:\\d\\f").attributes |= win::FILE_ATTRIBUTE_READONLY;
    EXPECT_EQ(dispose(u"C:\\d\\f", win::FILE_READ_ATTRIBUTES, posix_delete),
              win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(dispose(u"C:\\d\\f", win::DELETE, posix_delete), win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(dispose(u"C:\\d\\f", win::DELETE,
                      posix_delete | win::FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE),
              0u);
    EXPECT_FALSE(machine.files.exists("C:\\d\\f"));
}

}  // namespace
