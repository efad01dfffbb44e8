#include "outcome.h"

#include "entry_point.h"
#include "simulated_test.h"

#include <gtest/gtest.h>

using installer_helper::ActionOutcome;
using installer_helper::Done;
using installer_helper::DoneWithMessage;
using installer_helper::ElevationRequired;
using installer_helper::finish;
using installer_helper::HelperError;
using installer_helper::Result;
using Stream = sim::Console::Stream;

namespace {

class FinishTest : public SimulatedTest {};

TEST_F(FinishTest, DoneWritesNothingAndExitsZero) {
    EXPECT_EQ(finish(ActionOutcome{Done{}}), 0);
    EXPECT_EQ(machine.console.error_bytes, "");
    EXPECT_EQ(machine.console.error_writes, 0);
}

TEST_F(FinishTest, EachResultHasItsLineAndStatus) {
    EXPECT_EQ(finish(std::unexpected(HelperError("Unknown installer argument: -x"))), 1);
    EXPECT_EQ(finish(ActionOutcome{ElevationRequired{}}), 740);
    EXPECT_EQ(finish(ActionOutcome{DoneWithMessage{"Cleanup failed."}}), 2);
    EXPECT_EQ(machine.console.error_bytes,
              "Unknown installer argument: -x\n"
              "Administrator permission is required to restore this installation.\n"
              "Cleanup failed.\n");
    EXPECT_EQ(machine.console.error_writes, 3) << "each line goes out in one write";
    EXPECT_EQ(machine.console.output_bytes, "");
}

TEST_F(FinishTest, LineIsUtf8WithALoneLineFeed) {
    finish(std::unexpected(HelperError("Unknown installer argument: C:\\Spiele\\\xC3\xBC")));
    EXPECT_EQ(machine.console.error_bytes, "Unknown installer argument: C:\\Spiele\\\xC3\xBC\n");
}

TEST_F(FinishTest, LineBreaksInsideAMessageBecomeOneSpaceEach) {
    finish(std::unexpected(HelperError("Failed: The device\r\nis not ready.\r\n (os error 21)")));
    finish(std::unexpected(HelperError("Unknown installer argument: a\nb\rc\n\nd")));
    finish(ActionOutcome{DoneWithMessage{"Cleanup\r\nfailed."}});
    EXPECT_EQ(machine.console.error_bytes,
              "Failed: The device is not ready.  (os error 21)\n"
              "Unknown installer argument: a b c  d\n"
              "Cleanup failed.\n");
}

TEST_F(FinishTest, ConsoleWithAnotherCodePageGetsUtf16) {
    machine.console.error = Stream::console;
    machine.console.output_code_page = 850;
    EXPECT_EQ(finish(std::unexpected(HelperError("Pfad \xC3\xBC \xF0\x9F\x98\x80"))), 1);
    EXPECT_EQ(machine.console.error_console_text, u"Pfad \u00FC \U0001F600\n");
    EXPECT_EQ(machine.console.error_bytes, "");
}

TEST_F(FinishTest, Utf8ConsoleGetsTheBytes) {
    machine.console.error = Stream::console;
    machine.console.output_code_page = 65001;
    finish(std::unexpected(HelperError("\xC3\xBC")));
    EXPECT_EQ(machine.console.error_bytes, "\xC3\xBC\n");
    EXPECT_EQ(machine.console.error_console_text, u"");
}

TEST_F(FinishTest, NoStandardErrorKeepsTheStatus) {
    machine.console.error = Stream::absent;
    EXPECT_EQ(finish(std::unexpected(HelperError("x"))), 1);
    EXPECT_EQ(finish(ActionOutcome{ElevationRequired{}}), 740);
}

TEST_F(FinishTest, FailedWriteKeepsTheStatus) {
    machine.faults.fail_always("WriteFile", win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(finish(ActionOutcome{DoneWithMessage{"x"}}), 2);
}

// The whole run through the raw process command line.
class EntryPointTest : public SimulatedTest {
protected:
    int run(std::u16string command_line) {
        machine.command_line = std::move(command_line);
        return installer_helper::run_entry_point();
    }
};

TEST_F(EntryPointTest, ParseErrorEndsTheRunBeforeAnythingIsTouched) {
    EXPECT_EQ(run(u"installer-helper.exe -Action begin -Output C:\\Setup\\context -Verbose"), 1);
    EXPECT_EQ(machine.console.error_bytes, "Unknown installer argument: -Verbose\n");
    EXPECT_EQ(machine.faults.calls("CreateFileW"), 0);
}

TEST_F(EntryPointTest, NoArgumentsAsksForAnAction) {
    EXPECT_EQ(run(u"\"C:\\Program Files\\Setup\\installer-helper.exe\""), 1);
    EXPECT_EQ(machine.console.error_bytes, "A supported installer action is required.\n");
}

TEST_F(EntryPointTest, RelativeOutputPathIsRefusedBeforeTheContextIsRead) {
    EXPECT_EQ(run(u"h.exe -Action stop -Output context -Directory C:\\Games"), 1);
    EXPECT_EQ(machine.console.error_bytes, "Installer paths must be absolute.\n");
    EXPECT_EQ(machine.faults.calls("CreateFileW"), 0);
}

TEST_F(EntryPointTest, OutputPathThroughAJunctionIsRefused) {
    machine.files.add_directory("D:\\Real");
    machine.files.add_junction("C:\\Setup", "D:\\Real");
    EXPECT_EQ(run(u"h.exe -Action validate-launch -Output C:\\Setup\\context"), 1);
    EXPECT_EQ(machine.console.error_bytes,
              "A junction or symbolic link cannot be modified by setup.\n");
}

TEST_F(EntryPointTest, MissingContextFileNamesTheWindowsError) {
    machine.files.add_directory("C:\\Setup");
    EXPECT_EQ(run(u"h.exe -Action stop -Output C:\\Setup\\context -Directory C:\\Games"), 1);
    EXPECT_EQ(machine.console.error_bytes,
              "Could not read the installer context: The system cannot find the file "
              "specified. (os error 2)\n");
}

}  // namespace
