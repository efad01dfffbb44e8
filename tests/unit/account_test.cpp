#include "windows/account.h"

#include "platform/simulated/sim_handles.h"
#include "simulated_test.h"
#include "windows/system_error.h"

#include <gtest/gtest.h>

using installer_helper::is_canonical_sid_text;
using installer_helper::is_process_elevated;
using installer_helper::is_valid_account_sid;
using installer_helper::open_token;
using installer_helper::os_error_message;
using installer_helper::sid_to_string;
using installer_helper::token_user_sid;

namespace {

TEST(IsCanonicalSidText, RefusesTheServiceAccountsOnly) {
    for (const char* sid : {"S-1-5-18", "S-1-5-19", "S-1-5-20"}) EXPECT_FALSE(is_canonical_sid_text(sid));
    EXPECT_TRUE(is_canonical_sid_text("S-1-5-18-1"));
    EXPECT_TRUE(is_canonical_sid_text("S-1-5-180"));
}

TEST(IsCanonicalSidText, CountsPieces) {
    EXPECT_FALSE(is_canonical_sid_text("S-1-5"));
    EXPECT_TRUE(is_canonical_sid_text("S-1-5-21"));
    std::string fifteen = "S-1-5";
    for (int i = 0; i < 15; ++i) fifteen += "-1";
    EXPECT_TRUE(is_canonical_sid_text(fifteen));
    EXPECT_FALSE(is_canonical_sid_text(fifteen + "-1"));
}

TEST(IsCanonicalSidText, NumbersMustPrintBackExactly) {
    for (const char* sid : {"S-1-5-021", "S-1-+5-21", "S-1-5-+21", "S-1-5--21", "S-1-5-21-",
                            "s-1-5-21", "S-01-5-21", "S-2-5-21", " S-1-5-21", "S-1-5-21 ",
                            "S-1-5-2a", "S-1-0x5-21", "S-1--5-21", ""}) {
        EXPECT_FALSE(is_canonical_sid_text(sid)) << sid;
    }
}

TEST(IsCanonicalSidText, Limits) {
    EXPECT_TRUE(is_canonical_sid_text("S-1-281474976710655-1"));
    EXPECT_FALSE(is_canonical_sid_text("S-1-281474976710656-1"));
    EXPECT_FALSE(is_canonical_sid_text("S-1-99999999999999999999-1"));
    EXPECT_TRUE(is_canonical_sid_text("S-1-5-4294967295"));
    EXPECT_FALSE(is_canonical_sid_text("S-1-5-4294967296"));
}

class AccountTest : public SimulatedTest {};

TEST_F(AccountTest, ValidAccountSidNeedsWindowsToPrintItBackIdentically) {
    EXPECT_TRUE(is_valid_account_sid("S-1-5-21-1004336348-1177238915-682003330-1001"));
    EXPECT_TRUE(is_valid_account_sid("S-1-5-18-1"));
    for (const char* sid : {"S-1-5-18", "S-1-5-19", "S-1-5-20", "S-1-5-21-1 ", "s-1-5-21-1",
                            "S-1-5-021-1", "S-1-05-21", "BA", "SY", "S-1-", "S-1", "",
                            // Windows wants at least one sub-authority.
                            "S-1-5",
                            // Windows prints authorities of 2^32 and more in hexadecimal.
                            "S-1-4294967296-1"}) {
        EXPECT_FALSE(is_valid_account_sid(sid)) << sid;
    }
    EXPECT_FALSE(is_valid_account_sid(std::string_view("S-1-5-21\0-1", 11)));
}

TEST_F(AccountTest, ValidAccountSidTurnsEveryFailureIntoNo) {
    machine.faults.fail_nth("IsValidSid", 1, win::ERROR_INVALID_SID);
    EXPECT_FALSE(is_valid_account_sid("S-1-5-21-1"));
    machine.faults.fail_nth("ConvertSidToStringSidW", 1, win::ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_FALSE(is_valid_account_sid("S-1-5-21-1"));
    EXPECT_TRUE(is_valid_account_sid("S-1-5-21-1"));
}

TEST_F(AccountTest, SidToStringReportsFailuresAndInvalidText) {
    win::PSID sid = nullptr;
    ASSERT_TRUE(win::ConvertStringSidToSidW(u"S-1-5-21-7", &sid));
    EXPECT_EQ(sid_to_string(sid), "S-1-5-21-7");

    machine.faults.fail_nth("ConvertSidToStringSidW", 1, win::ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(sid_to_string(sid).error().message(),
              "Could not read the account SID: Not enough memory resources are available to "
              "process this command. (os error 8)");

    machine.accounts.sid_text_override = std::u16string(u"S-1-5-") + char16_t(0xD800);
    EXPECT_EQ(sid_to_string(sid).error().message(), "The account SID is invalid.");
    win::LocalFree(sid);
}

TEST_F(AccountTest, ElevationOfTheCurrentProcess) {
    machine.accounts.elevated = true;
    EXPECT_EQ(is_process_elevated(), true);
    machine.accounts.elevated = false;
    EXPECT_EQ(is_process_elevated(), false);
}

TEST_F(AccountTest, ElevationFailures) {
    machine.faults.fail_nth("OpenProcessToken", 1, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(is_process_elevated().error().message(),
              "Could not inspect the account token: Access is denied. (os error 5)");
    machine.faults.fail_nth("GetTokenInformation", 1, win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(is_process_elevated().error().message(),
              "Could not inspect account elevation: The handle is invalid. (os error 6)");
}

TEST_F(AccountTest, OpenTokenAsksForDuplicationOnlyWhenWanted) {
    auto query = open_token(win::GetCurrentProcess(), false);
    ASSERT_TRUE(query);
    auto* token = machine.handle<sim::TokenObject>(query->get());
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(token->access, 0x0008u);
    auto both = open_token(win::GetCurrentProcess(), true);
    ASSERT_TRUE(both);
    EXPECT_EQ(machine.handle<sim::TokenObject>(both->get())->access, 0x000Au);
}

TEST_F(AccountTest, TokenUserSid) {
    machine.accounts.user_sid = "S-1-5-21-0-0-0-1000";
    auto token = open_token(win::GetCurrentProcess(), false);
    ASSERT_TRUE(token);
    EXPECT_EQ(token_user_sid(token->get()), "S-1-5-21-0-0-0-1000");
}

TEST_F(AccountTest, TokenUserSidRequiresTheSizeQueryToAskForABuffer) {
    auto token = open_token(win::GetCurrentProcess(), false);
    ASSERT_TRUE(token);
    machine.faults.fail_nth("GetTokenInformation", 1, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(token_user_sid(token->get()).error().message(),
              "Could not inspect the account SID: Access is denied. (os error 5)");
    machine.faults.fail_nth("GetTokenInformation", 2, win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(token_user_sid(token->get()).error().message(),
              "Could not inspect the account SID: The handle is invalid. (os error 6)");
}

// os_error_message takes the last error first, and the system's text second.
class SystemErrorTest : public SimulatedTest {
protected:
    std::string message_for(win::DWORD code) {
        machine.last_error = code;
        return os_error_message("Could not inspect the desktop shell").message();
    }
};

TEST_F(SystemErrorTest, FixedTextColonDescriptionAndCode) {
    EXPECT_EQ(message_for(5), "Could not inspect the desktop shell: Access is denied. (os error 5)");
}

TEST_F(SystemErrorTest, NtStatusCodesComeFromNtdll) {
    EXPECT_EQ(message_for(0xD0000022),
              "Could not inspect the desktop shell: {Access Denied}\r\nA process has requested "
              "access to an object, but has not been granted those access rights. "
              "(os error 3489660962)");
}

TEST_F(SystemErrorTest, UnknownCodesAndBadTexts) {
    EXPECT_EQ(message_for(4711),
              "Could not inspect the desktop shell: OS Error 4711 (FormatMessageW() returned "
              "error 317) (os error 4711)");
    machine.messages.set_system(77, std::u16string(u"bad ") + char16_t(0xDC00) + u"\r\n");
    EXPECT_EQ(message_for(77),
              "Could not inspect the desktop shell: OS Error 77 (FormatMessageW() returned "
              "invalid UTF-16) (os error 77)");
    machine.messages.set_system(78, u"trailing spaces \t \r\n\r\n");
    EXPECT_EQ(message_for(78), "Could not inspect the desktop shell: trailing spaces (os error 78)");
}

}  // namespace
