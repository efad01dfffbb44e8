#include "windows/user_environment.h"

#include "handlers/handlers.h"
#include "installer_context.h"
#include "simulated_test.h"

#include <gtest/gtest.h>

using installer_helper::check_recovery_account;
using installer_helper::Done;
using installer_helper::InstallerArguments;
using installer_helper::InstallerContext;
using installer_helper::OriginalUser;
using installer_helper::read_installer_context;
using installer_helper::resolve_original_user;
using installer_helper::run_validate_launch;
using installer_helper::validate_launch;
using installer_helper::write_installer_context;

namespace {

constexpr const char* player_sid = "S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr const char* admin_sid = "S-1-5-21-1004336348-1177238915-682003330-500";
constexpr const char* player_temp = "C:\\Users\\p\\AppData\\Local\\Temp";

constexpr const char* shell_unavailable = "The original user's desktop shell is unavailable.";
constexpr const char* temp_unavailable = "The original user's temporary directory is unavailable.";
constexpr const char* user_mismatch =
    "The original user no longer matches the account setup can launch.";
constexpr const char* temp_mismatch =
    "The original temporary directory differs from the player account environment. Restart "
    "setup from the normal desktop.";
constexpr const char* not_local = "The installation path must be an absolute local path.";
constexpr const char* reparse_refused = "A junction or symbolic link cannot be modified by setup.";
constexpr const char* recovery_mismatch =
    "The recovery account does not match the original installer user.";

class OriginalUserTest : public SimulatedTest {
protected:
    void SetUp() override {
        machine.accounts.user_sid = player_sid;
        machine.files.add_directory(player_temp);
    }

    // The helper runs elevated as an administrator; the player owns the shell.
    win::DWORD elevated_under_shell(std::vector<std::u16string> environment,
                                    std::string shell_user = player_sid) {
        machine.accounts.elevated = true;
        machine.accounts.user_sid = admin_sid;
        sim::Process shell;
        shell.image_path = u"C:\\Windows\\explorer.exe";
        shell.user_sid = shell_user;
        const win::DWORD pid = machine.processes.start(std::move(shell)).pid;
        machine.environment.shell_window = true;
        machine.environment.shell_process_id = pid;
        machine.environment.profiles[shell_user] = std::move(environment);
        return pid;
    }

    std::string error_of(std::optional<std::string_view> sid = std::nullopt,
                         std::optional<std::string_view> temp = std::nullopt) {
        const auto user = resolve_original_user(sid, temp);
        return user ? "(no error)" : user.error().message();
    }
};

// --- elevated: the shell's owner and that account's environment ---

TEST_F(OriginalUserTest, ElevatedTakesTheShellOwnerAndSkipsEmptyAndNamelessEntries) {
    elevated_under_shell({u"=C:=C:\\", u"ALLUSERSPROFILE=C:\\ProgramData", u"NOEQUALS",
                          u"tmp=", u"TEMP=C:\\Users\\p\\AppData\\Local\\Temp",
                          u"USERPROFILE=C:\\Users\\p"});
    const auto user = resolve_original_user(std::nullopt, std::nullopt);
    ASSERT_TRUE(user) << user.error().message();
    EXPECT_EQ(user->sid, player_sid);
    EXPECT_EQ(user->temp, player_temp);
}

TEST_F(OriginalUserTest, ElevatedLooksForTmpThenTempThenUserProfileIgnoringAsciiCase) {
    machine.files.add_directory("C:\\T1");
    machine.files.add_directory("C:\\T2");
    elevated_under_shell({u"TEMP=C:\\T2", u"TMPDIR=C:\\x", u"TM=C:\\y", u"Tmp=C:\\T1\\",
                          u"TMP=C:\\later"});
    EXPECT_EQ(resolve_original_user(std::nullopt, std::nullopt)->temp, "C:\\T1");

    // Only A to Z fold: a dotless i, which upper-cases to I, does not match.
    machine.environment.profiles[player_sid] = {u"USERPROF\u0131LE=C:\\x",
                                                u"USERPROFILE=C:\\Users\\p"};
    EXPECT_EQ(resolve_original_user(std::nullopt, std::nullopt)->temp, "C:\\Users\\p");
}

TEST_F(OriginalUserTest, ElevatedWithoutAnyTemporaryDirectoryVariable) {
    elevated_under_shell({u"TMP=", u"TEMP=", u"USERPROFILE=", u"PATH=C:\\Windows"});
    EXPECT_EQ(error_of(), temp_unavailable);
}

TEST_F(OriginalUserTest, ElevatedNeedsAShellWindowWithAThread) {
    machine.accounts.elevated = true;
    EXPECT_EQ(error_of(), shell_unavailable);

    elevated_under_shell({u"TMP=C:\\Users\\p\\AppData\\Local\\Temp"});
    machine.environment.shell_thread_id = 0;
    EXPECT_EQ(error_of(), shell_unavailable);
}

TEST_F(OriginalUserTest, ElevatedReportsAShellThatCannotBeOpened) {
    const win::DWORD shell = elevated_under_shell({u"TMP=C:\\Users\\p\\AppData\\Local\\Temp"});
    machine.processes.remove(shell);
    EXPECT_EQ(error_of(),
              "Could not inspect the desktop shell: The parameter is incorrect. (os error 87)");
}

TEST_F(OriginalUserTest, ElevatedReportsTokenAndEnvironmentFailuresAndReleasesWhatItOpened) {
    elevated_under_shell({u"TMP=C:\\Users\\p\\AppData\\Local\\Temp"});
    // The first token is the helper's own, for the elevation query.
    machine.faults.fail_nth("OpenProcessToken", 2, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(error_of(), "Could not inspect the account token: Access is denied. (os error 5)");

    machine.faults.fail_nth("ConvertSidToStringSidW", 1, win::ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(error_of(),
              "Could not read the account SID: Not enough memory resources are available to "
              "process this command. (os error 8)");

    machine.environment.profiles.clear();
    EXPECT_EQ(error_of(),
              "Could not inspect the player account environment: The system cannot find the file "
              "specified. (os error 2)");
    // TearDown checks that the shell handle, the token and the blocks were released.
}

TEST_F(OriginalUserTest, ElevationThatCannotBeReadComesFirst) {
    machine.faults.fail_nth("GetTokenInformation", 1, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(error_of(), "Could not inspect account elevation: Access is denied. (os error 5)");
}

// --- unelevated: the helper's own account and temporary directory ---

TEST_F(OriginalUserTest, UnelevatedTakesItsOwnAccountAndTemporaryDirectory) {
    machine.environment.temp_path = u"C:\\Users\\p\\AppData\\Local\\Temp\\";
    const auto user = resolve_original_user(player_sid, "C:\\Users\\p\\AppData\\Local\\Temp");
    ASSERT_TRUE(user) << user.error().message();
    EXPECT_EQ(user->sid, player_sid);
    EXPECT_EQ(user->temp, player_temp);
    EXPECT_EQ(machine.faults.calls("GetTempPath2W"), 1);
    EXPECT_EQ(machine.faults.calls("GetTempPathW"), 0);
    EXPECT_EQ(machine.faults.calls("GetShellWindow"), 0);
}

TEST_F(OriginalUserTest, UnelevatedFallsBackToGetTempPathWhereTheNewerCallIsMissing) {
    machine.environment.has_temp_path2 = false;
    machine.environment.temp_path = u"C:\\Users\\p\\AppData\\Local\\Temp\\";
    EXPECT_EQ(resolve_original_user(std::nullopt, std::nullopt)->temp, player_temp);
    EXPECT_EQ(machine.faults.calls("GetTempPathW"), 1);
}

TEST_F(OriginalUserTest, UnelevatedGrowsTheBufferForALongTemporaryDirectory) {
    std::string long_temp = "C:\\Users\\p";
    for (int i = 0; i < 30; ++i) long_temp += "\\component-" + std::to_string(i) + "-padding";
    ASSERT_GT(long_temp.size(), 512u);
    machine.environment.temp_path = u16(long_temp + "\\");
    EXPECT_EQ(resolve_original_user(std::nullopt, std::nullopt)->temp, long_temp);
    EXPECT_EQ(machine.faults.calls("GetTempPath2W"), 2);
}

TEST_F(OriginalUserTest, UnelevatedReportsATemporaryDirectoryTheSystemCannotGive) {
    machine.faults.fail_nth("GetTempPath2W", 1, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(error_of(),
              "Could not inspect the player account temporary directory: Access is denied. "
              "(os error 5)");
    EXPECT_EQ(machine.faults.calls("GetTempPathW"), 0);
}

// --- the checks, in their fixed order ---

TEST_F(OriginalUserTest, SidMustBeValidAndEqualByteForByte) {
    EXPECT_EQ(error_of("s-1-5-21-1004336348-1177238915-682003330-1001"), user_mismatch);
    EXPECT_EQ(error_of(admin_sid), user_mismatch);
    EXPECT_TRUE(resolve_original_user(player_sid, std::nullopt));

    // A shell of a service account is never the player, even unchecked.
    elevated_under_shell({u"TMP=C:\\Users\\p\\AppData\\Local\\Temp"}, "S-1-5-18");
    EXPECT_EQ(error_of(), user_mismatch);
}

TEST_F(OriginalUserTest, TemporaryDirectoryMustBeALocalPath) {
    machine.environment.temp_path = u"\\\\server\\share\\Temp\\";
    EXPECT_EQ(error_of(), not_local);
    machine.environment.temp_path = u"C:\\";
    EXPECT_EQ(error_of(), "A drive root cannot be an installation directory.");
}

TEST_F(OriginalUserTest, TemporaryDirectoryIsComparedAfterNormalisationIgnoringCase) {
    machine.environment.temp_path = u"C:\\Users\\p\\AppData\\Local\\Temp\\";
    EXPECT_TRUE(resolve_original_user(std::nullopt, "c:\\users\\p\\appdata\\local\\temp"));
    EXPECT_TRUE(resolve_original_user(std::nullopt, "C:/Users/p/AppData/Local/Temp/x/.."));
    EXPECT_EQ(error_of(std::nullopt, "C:\\Users\\q\\AppData\\Local\\Temp"), temp_mismatch);
    EXPECT_EQ(error_of(std::nullopt, "Temp"), not_local);
}

TEST_F(OriginalUserTest, TemporaryDirectoryUnderAJunctionIsRefused) {
    machine.files.add_directory("D:\\Elsewhere");
    machine.files.add_junction("C:\\Users\\j", "D:\\Elsewhere");
    machine.environment.temp_path = u"C:\\Users\\j\\Temp\\";
    EXPECT_EQ(error_of(std::nullopt, "C:\\Users\\j\\Temp"), reparse_refused);
}

TEST_F(OriginalUserTest, TheFirstFailingCheckDecides) {
    // Lookup before SID check: a service account without a temporary directory.
    elevated_under_shell({u"PATH=C:\\Windows"}, "S-1-5-18");
    EXPECT_EQ(error_of(), temp_unavailable);

    // SID before the temporary directory's form.
    machine.environment.profiles["S-1-5-18"] = {u"TMP=\\\\server\\share"};
    EXPECT_EQ(error_of(), user_mismatch);

    // Form of the found directory before the expected one's, and before the match.
    machine.environment.shell_window = false;
    machine.accounts.elevated = false;
    machine.accounts.user_sid = player_sid;
    machine.environment.temp_path = u"Temp";
    EXPECT_EQ(error_of(std::nullopt, "C:\\"), not_local);

    // The match before the reparse-point check.
    machine.files.add_directory("D:\\Elsewhere");
    machine.files.add_junction("C:\\Users\\j", "D:\\Elsewhere");
    machine.environment.temp_path = u"C:\\Users\\j\\Temp";
    EXPECT_EQ(error_of(std::nullopt, player_temp), temp_mismatch);
}

// --- validate-launch ---

InstallerContext context_for(std::string sid, std::string temp) {
    return InstallerContext{
        .sid = std::move(sid),
        .temp = std::move(temp),
        .desktop = "C:\\Users\\p\\Desktop",
        .programs = "C:\\Users\\p\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
        .local = "C:\\Users\\p\\AppData\\Local",
        .roaming = "C:\\Users\\p\\AppData\\Roaming",
        .directory = "C:\\Users\\p\\AppData\\Local\\Programs\\Quillmora Launcher",
    };
}

TEST_F(OriginalUserTest, ValidateLaunchAcceptsTheRecordedUserInAnotherSpelling) {
    elevated_under_shell({u"TEMP=C:\\Users\\p\\AppData\\Local\\Temp\\"});
    EXPECT_TRUE(validate_launch(context_for(player_sid, "c:\\users\\p\\appdata\\local\\temp")));
    EXPECT_EQ(validate_launch(context_for(admin_sid, player_temp)).error().message(),
              user_mismatch);
    EXPECT_EQ(validate_launch(context_for(player_sid, "C:\\Windows\\Temp")).error().message(),
              temp_mismatch);
}

TEST_F(OriginalUserTest, RunValidateLaunchReadsTheContextFile) {
    InstallerArguments arguments;
    arguments.action = installer_helper::Action::ValidateLaunch;
    arguments.output = "C:\\Setup\\context";
    machine.files.add_directory("C:\\Setup");
    const auto missing = read_installer_context(arguments.output);
    ASSERT_FALSE(missing);
    EXPECT_EQ(run_validate_launch(arguments).error(), missing.error());

    machine.environment.temp_path = u"C:\\Users\\p\\AppData\\Local\\Temp\\";
    ASSERT_TRUE(write_installer_context(arguments.output, context_for(player_sid, player_temp)));
    const auto result = run_validate_launch(arguments);
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(*result, installer_helper::ActionOutcome(Done{}));

    ASSERT_TRUE(write_installer_context(arguments.output, context_for(admin_sid, player_temp)));
    EXPECT_EQ(run_validate_launch(arguments).error().message(), user_mismatch);
}

// --- the recovery account ---

TEST_F(OriginalUserTest, RecoveryAccountWhileElevatedIsAnyValidAccount) {
    machine.accounts.elevated = true;
    machine.accounts.user_sid = admin_sid;
    EXPECT_TRUE(check_recovery_account(player_sid));
    EXPECT_EQ(check_recovery_account("S-1-5-18").error().message(), recovery_mismatch);
    EXPECT_EQ(check_recovery_account("S-1-5-021").error().message(), recovery_mismatch);
}

TEST_F(OriginalUserTest, RecoveryAccountWhileUnelevatedIsOnlyTheHelpersOwn) {
    EXPECT_TRUE(check_recovery_account(player_sid));
    EXPECT_EQ(check_recovery_account(admin_sid).error().message(), recovery_mismatch);
    EXPECT_EQ(check_recovery_account("S-1-5-18").error().message(), recovery_mismatch);

    machine.faults.fail_nth("OpenProcessToken", 2, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(check_recovery_account(player_sid).error().message(),
              "Could not inspect the account token: Access is denied. (os error 5)");
    machine.faults.fail_nth("GetTokenInformation", 1, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(check_recovery_account(player_sid).error().message(),
              "Could not inspect account elevation: Access is denied. (os error 5)");
}

}  // namespace
