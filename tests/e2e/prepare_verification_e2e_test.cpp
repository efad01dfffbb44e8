// The prepare-verification action under Wine: the verification directory in
// the original user's temporary directory, elevated under the shell and
// unelevated, and what Wine shows of its permissions.
#include "context_file.h"
#include "wine_differences.h"
#include "wine_test.h"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iterator>
#include <set>

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* user_mismatch =
    "The original user no longer matches the account setup can launch.";
constexpr const char* invalid_identifier = "Invalid migration verification identifier.";

constexpr RunOptions under_the_shell{.unelevated = false, .desktop_shell = true};
constexpr RunOptions unelevated{.unelevated = true, .desktop_shell = false};

class PrepareVerificationEndToEnd : public WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        const RunResult probe = run_tool("ih-probe", {"temp"});
        ASSERT_EQ(probe.status, 0u);
        temp_ = probe.standard_output;
        while (!temp_.empty() && (temp_.back() == '\n' || temp_.back() == '\\')) temp_.pop_back();
    }

    // The directories live in Wine's temporary directory, which every test
    // shares: each test uses identifiers of its own and removes what it made.
    void TearDown() override {
        for (const std::string& identifier : identifiers_)
            fs::remove_all(wine::unix_path(directory_for(identifier)));
    }

    // A fresh identifier with its letters in upper case from the second group
    // on, so that the directory name shows whether the case was kept.
    std::string fresh_identifier() {
        std::string identifier = boost::uuids::to_string(boost::uuids::random_generator()());
        std::transform(identifier.begin() + 9, identifier.end(), identifier.begin() + 9,
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        identifiers_.push_back(identifier);
        return identifier;
    }

    std::string directory_for(std::string_view identifier) const {
        return temp_ + "\\quillmora-migration-" + std::string(identifier);
    }

    RunResult prepare(std::string_view identifier, const RunOptions& options,
                      std::string_view sid = wine_user_sid) {
        ContextFile context;
        context.sid = sid;
        context.temp = temp_;
        write_file(scratch_path("context"), context.written());
        return run_helper({"-Action", "prepare-verification", "-Output", scratch_path("context"),
                           "-Nonce", std::string(identifier)},
                          options);
    }

    // The names in the temporary directory, exactly as stored on the host.
    std::set<std::string> temp_entries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(wine::unix_path(temp_)))
            names.insert(entry.path().filename().string());
        return names;
    }

    std::string dacl_of(std::string_view path) {
        const RunResult shown = run_tool("ih-acl", {"show", std::string(path)});
        EXPECT_EQ(shown.status, 0u) << shown.standard_error;
        return shown.standard_output;
    }

private:
    std::string temp_;
    std::vector<std::string> identifiers_;
};

TEST_F(PrepareVerificationEndToEnd, CreatesTheDirectoryWithTheIdentifierAsGiven) {
    for (const RunOptions& options : {under_the_shell, unelevated}) {
        SCOPED_TRACE(options.unelevated ? "unelevated" : "elevated under the shell");
        const std::string identifier = fresh_identifier();
        const std::set<std::string> before = temp_entries();
        EXPECT_EQ(prepare(identifier, options), (RunResult{0, "", ""}));

        std::set<std::string> added;
        std::ranges::set_difference(temp_entries(), before, std::inserter(added, added.end()));
        EXPECT_EQ(added, std::set<std::string>{"quillmora-migration-" + identifier});
        EXPECT_TRUE(fs::is_directory(wine::unix_path(directory_for(identifier))));
        // Wine keeps no DACL and shows one made from the Unix mode (see the
        // list); without the helper's descriptor it would let Everyone read.
        EXPECT_EQ(dacl_of(directory_for(identifier)), verification_dacl_under_wine)
            << "where Windows shows:\n" << verification_dacl_on_windows;
    }
}

TEST_F(PrepareVerificationEndToEnd, ASecondRunWithTheSameIdentifierLeavesTheFirstDirectoryAlone) {
    const std::string identifier = fresh_identifier();
    ASSERT_EQ(prepare(identifier, unelevated), (RunResult{0, "", ""}));
    const std::string check_file = directory_for(identifier) + "\\setup-check.txt";
    write_file(check_file, "written by setup");
    const std::string dacl = dacl_of(directory_for(identifier));

    EXPECT_EQ(prepare(identifier, under_the_shell),
              helper_error("Could not create the migration verification directory: " +
                           os_error_text(183)));
    EXPECT_EQ(read_file(check_file), "written by setup");
    EXPECT_EQ(dacl_of(directory_for(identifier)), dacl);
}

TEST_F(PrepareVerificationEndToEnd, TheServiceAccountCreatesNothing) {
    const std::set<std::string> before = temp_entries();
    for (const RunOptions& options : {under_the_shell, unelevated}) {
        SCOPED_TRACE(options.unelevated ? "unelevated" : "elevated under the shell");
        EXPECT_EQ(prepare(fresh_identifier(), options, "S-1-5-18"), helper_error(user_mismatch));
    }
    EXPECT_EQ(temp_entries(), before);
}

TEST_F(PrepareVerificationEndToEnd, EveryOtherIdentifierFormIsRefusedAndCreatesNothing) {
    const std::string identifier = fresh_identifier();
    std::string digits_only = identifier;
    std::erase(digits_only, '-');
    const std::set<std::string> before = temp_entries();
    for (const std::string& refused :
         {digits_only, "{" + identifier + "}", "urn:uuid:" + identifier,
          identifier.substr(1), identifier.substr(0, 35) + "G"}) {
        EXPECT_EQ(prepare(refused, under_the_shell), helper_error(invalid_identifier)) << refused;
    }
    EXPECT_EQ(temp_entries(), before);
}

}  // namespace
}  // namespace e2e
