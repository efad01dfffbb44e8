#include "windows/verification_directory.h"

#include "handlers/handlers.h"
#include "installer_context.h"
#include "simulated_test.h"

#include <gtest/gtest.h>

using installer_helper::Done;
using installer_helper::InstallerArguments;
using installer_helper::InstallerContext;
using installer_helper::is_verification_identifier;
using installer_helper::prepare_verification;
using installer_helper::run_prepare_verification;
using installer_helper::write_installer_context;

namespace {

constexpr const char* player_sid = "S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr const char* admin_sid = "S-1-5-21-1004336348-1177238915-682003330-500";
constexpr const char* player_temp = "C:\\Users\\p\\AppData\\Local\\Temp";
constexpr const char* identifier = "0F8FAD5B-d9cb-469F-A165-70867728950e";
constexpr const char* directory =
    "C:\\Users\\p\\AppData\\Local\\Temp\\quillmora-migration-0F8FAD5B-d9cb-469F-A165-70867728950e";

constexpr const char* invalid_identifier = "Invalid migration verification identifier.";
constexpr const char* converter = "ConvertStringSecurityDescriptorToSecurityDescriptorW";

// What Windows keeps for the directory: a protected DACL of four entries
// that files and subdirectories inherit, and nothing else given.
sim::SecurityDescriptor verification_permissions(std::string_view user_sid) {
    constexpr std::uint8_t inherited = sim::OBJECT_INHERIT_ACE | sim::CONTAINER_INHERIT_ACE;
    const sim::Sid user = sim::parse_sid_text(u16(user_sid)).value();
    const sim::Sid administrators{5, {32, 544}};
    const sim::Sid system{5, {18}};
    sim::SecurityDescriptor descriptor;
    descriptor.control = sim::SE_SELF_RELATIVE | sim::SE_DACL_PRESENT | sim::SE_DACL_PROTECTED;
    const sim::Sid owner_rights{3, {4}};
    descriptor.dacl = {{sim::ACCESS_ALLOWED_ACE_TYPE, inherited, 0x1301BF, user},
                       {sim::ACCESS_ALLOWED_ACE_TYPE, inherited, sim::FILE_ALL_ACCESS, administrators},
                       {sim::ACCESS_ALLOWED_ACE_TYPE, inherited, sim::FILE_ALL_ACCESS, system},
                       // The owner gains nothing beyond the user's own rights.
                       {sim::ACCESS_ALLOWED_ACE_TYPE, inherited, 0x1301BF, owner_rights}};
    return descriptor;
}

InstallerContext context_for(std::string sid, std::string temp = player_temp) {
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

class VerificationDirectoryTest : public SimulatedTest {
protected:
    void SetUp() override {
        machine.accounts.user_sid = player_sid;
        machine.environment.temp_path = u"C:\\Users\\p\\AppData\\Local\\Temp\\";
        machine.files.add_directory(player_temp).owner_sid = player_sid;
    }

    std::string error_of(const InstallerContext& context, std::string_view nonce = identifier) {
        const auto prepared = prepare_verification(context, nonce);
        return prepared ? "(no error)" : prepared.error().message();
    }

    void expect_nothing_created() {
        EXPECT_EQ(machine.files.list(player_temp), std::vector<std::string>{});
    }
};

TEST_F(VerificationDirectoryTest, CreatesTheDirectoryWithItsFinalPermissionsInOneStep) {
    const auto prepared = prepare_verification(context_for(player_sid), identifier);
    ASSERT_TRUE(prepared) << prepared.error().message();
    // The identifier is used as given, letter case included.
    EXPECT_EQ(machine.files.list(player_temp),
              std::vector<std::string>{"quillmora-migration-0F8FAD5B-d9cb-469F-A165-70867728950e"});
    const sim::Node* created = machine.files.find(directory);
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(created->is_directory());
    EXPECT_EQ(created->security_descriptor, verification_permissions(player_sid));
    EXPECT_EQ(machine.faults.calls("CreateDirectoryW"), 1);
    // TearDown checks that the converted descriptor was released.
}

TEST_F(VerificationDirectoryTest, ElevatedItIsTheShellOwnersDirectoryAndAccount) {
    machine.accounts.elevated = true;
    machine.accounts.user_sid = admin_sid;
    sim::Process shell;
    shell.image_path = u"C:\\Windows\\explorer.exe";
    shell.user_sid = player_sid;
    machine.environment.shell_process_id = machine.processes.start(std::move(shell)).pid;
    machine.environment.shell_window = true;
    machine.environment.profiles[player_sid] = {u"TEMP=C:\\Users\\p\\AppData\\Local\\Temp"};

    const auto prepared = prepare_verification(context_for(player_sid), identifier);
    ASSERT_TRUE(prepared) << prepared.error().message();
    ASSERT_NE(machine.files.find(directory), nullptr);
    EXPECT_EQ(machine.files.find(directory)->security_descriptor,
              verification_permissions(player_sid));
}

TEST(VerificationIdentifier, OnlyTheHyphenatedFormInAnyLetterCase) {
    for (const char* accepted :
         {"0f8fad5b-d9cb-469f-a165-70867728950e", "0F8FAD5B-D9CB-469F-A165-70867728950E",
          // Neither a version nor a variant is required.
          "00000000-0000-0000-0000-000000000000", "ffffffff-ffff-0fff-cfff-ffffffffffff"}) {
        EXPECT_TRUE(is_verification_identifier(accepted)) << accepted;
    }
    for (const char* refused :
         {"0f8fad5bd9cb469fa16570867728950e", "{0f8fad5b-d9cb-469f-a165-70867728950e}",
          "{0f8fad5bd9cb469fa16570867728950e}", "urn:uuid:0f8fad5b-d9cb-469f-a165-70867728950e",
          // 36 characters, but the hyphens in the wrong places or none.
          "0f8fad5bd-9cb-469f-a165-70867728950e", "0f8fad5bd9cb469fa16570867728950e----",
          "0f8fad5b-d9cb-469f-a165-70867728950g", " f8fad5b-d9cb-469f-a165-70867728950e",
          "0f8fad5b-d9cb-469f-a165-70867728950", "0f8fad5b-d9cb-469f-a165-70867728950e0",
          "0f8fad5b-d9cb-469f-a165-70867728950e\n", "", "0f8fad5b-d9cb-469f-a165-7086772895\xc3\xa9"}) {
        EXPECT_FALSE(is_verification_identifier(refused)) << refused;
    }
    EXPECT_FALSE(is_verification_identifier(
        std::string_view("0f8fad5b-d9cb-469f-a165-70867728950\0", 36)));
}

TEST_F(VerificationDirectoryTest, AnInvalidIdentifierCreatesNothing) {
    EXPECT_EQ(error_of(context_for(player_sid), "{0f8fad5b-d9cb-469f-a165-70867728950e}"),
              invalid_identifier);
    EXPECT_EQ(error_of(context_for(player_sid), "..\\..\\x-d9cb-469f-a165-70867728950e"),
              invalid_identifier);
    expect_nothing_created();
    EXPECT_EQ(machine.faults.calls(converter), 0);
}

TEST_F(VerificationDirectoryTest, TheOriginalUserIsCheckedBeforeAnythingElse) {
    EXPECT_EQ(error_of(context_for("S-1-5-18"), "not an identifier"),
              "The original user no longer matches the account setup can launch.");
    EXPECT_EQ(error_of(context_for(player_sid, "C:\\Users\\q\\AppData\\Local\\Temp")),
              "The original temporary directory differs from the player account environment. "
              "Restart setup from the normal desktop.");
    expect_nothing_created();
    EXPECT_EQ(machine.faults.calls(converter), 0);
}

TEST_F(VerificationDirectoryTest, AJunctionInPlaceOfTheDirectoryIsRefused) {
    machine.files.add_directory("D:\\Elsewhere");
    machine.files.add_junction(directory, "D:\\Elsewhere");
    EXPECT_EQ(error_of(context_for(player_sid)),
              "A junction or symbolic link cannot be modified by setup.");
    EXPECT_EQ(machine.faults.calls(converter), 0);
    EXPECT_EQ(machine.files.list("D:\\Elsewhere"), std::vector<std::string>{});
}

// A temporary directory the user does not own may be a folder the user
// cannot write, named by the user's own environment: nothing is made there.
TEST_F(VerificationDirectoryTest, ATemporaryDirectoryOfAnotherOwnerIsRefused) {
    machine.files.find(player_temp)->owner_sid = "S-1-5-32-544";
    EXPECT_EQ(error_of(context_for(player_sid)),
              "The original temporary directory does not belong to the original user.");
    expect_nothing_created();
    machine.faults.fail_nth("GetSecurityInfo", 1, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(error_of(context_for(player_sid)),
              "Could not inspect the original temporary directory: Access is denied. (os error 5)");
}

// While the directory is made, the temporary directory and every folder
// above it are pinned: none can be swapped for a junction in between.
TEST_F(VerificationDirectoryTest, TheTemporaryDirectoryCannotBeSwappedBeforeTheCreate) {
    machine.files.add_directory("C:\\Users\\p\\Parked");
    machine.files.add_directory("C:\\Protected");
    machine.faults.before_call("CreateDirectoryW", 1, [&] {
        EXPECT_FALSE(win::MoveFileExW(u16(player_temp).c_str(), u"C:\\Users\\p\\Parked\\Temp", 0));
        EXPECT_FALSE(win::MoveFileExW(u"C:\\Users\\p", u"C:\\Protected\\p", 0));
    });
    EXPECT_EQ(error_of(context_for(player_sid)), "(no error)");
    EXPECT_TRUE(machine.files.exists(directory));
    EXPECT_EQ(machine.files.list("C:\\Protected"), std::vector<std::string>{});
}

TEST_F(VerificationDirectoryTest, PermissionsWindowsRefusesCreateNothing) {
    machine.faults.fail_nth(converter, 1, win::ERROR_INVALID_ACL);
    EXPECT_EQ(error_of(context_for(player_sid)),
              "Could not prepare verification directory permissions: The access control list "
              "(ACL) structure is invalid. (os error 1336)");
    EXPECT_EQ(machine.faults.calls("CreateDirectoryW"), 0);
    expect_nothing_created();
}

TEST_F(VerificationDirectoryTest, ASecondRunWithTheSameIdentifierLeavesTheFirstDirectoryAlone) {
    ASSERT_TRUE(prepare_verification(context_for(player_sid), identifier));
    machine.files.add_file(std::string(directory) + "\\setup-check.txt", "written by setup");

    EXPECT_EQ(error_of(context_for(player_sid), "0f8fad5b-D9CB-469f-a165-70867728950E"),
              "Could not create the migration verification directory: Cannot create a file when "
              "that file already exists. (os error 183)");
    EXPECT_EQ(machine.files.list(player_temp),
              std::vector<std::string>{"quillmora-migration-0F8FAD5B-d9cb-469F-A165-70867728950e"});
    EXPECT_EQ(machine.files.contents(std::string(directory) + "\\setup-check.txt"),
              "written by setup");
    EXPECT_EQ(machine.files.find(directory)->security_descriptor,
              verification_permissions(player_sid));
}

TEST_F(VerificationDirectoryTest, CreationFailuresAreReportedWithTheSystemsDescription) {
    machine.files.find(player_temp)->create_child_error = win::ERROR_ACCESS_DENIED;
    EXPECT_EQ(error_of(context_for(player_sid)),
              "Could not create the migration verification directory: Access is denied. (os error 5)");

    // Only one level is created: the temporary directory must exist.
    machine.files.add_directory("C:\\Users\\q").owner_sid = player_sid;
    machine.environment.temp_path = u"C:\\Users\\q\\Temp";
    EXPECT_EQ(error_of(context_for(player_sid, "C:\\Users\\q\\Temp")),
              "Could not create the migration verification directory: The system cannot find the "
              "path specified. (os error 3)");
    // TearDown checks that the descriptor was released on both paths.
}

TEST_F(VerificationDirectoryTest, RunPrepareVerificationReadsTheContextFile) {
    InstallerArguments arguments;
    arguments.action = installer_helper::Action::PrepareVerification;
    arguments.output = "C:\\Setup\\context";
    arguments.nonce = identifier;
    machine.files.add_directory("C:\\Setup");
    EXPECT_EQ(run_prepare_verification(arguments).error().message().rfind(
                  "Could not read the installer context: ", 0),
              0u);

    ASSERT_TRUE(write_installer_context(arguments.output, context_for(player_sid)));
    const auto result = run_prepare_verification(arguments);
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(*result, installer_helper::ActionOutcome(Done{}));
    EXPECT_TRUE(machine.files.exists(directory));
}

}  // namespace
