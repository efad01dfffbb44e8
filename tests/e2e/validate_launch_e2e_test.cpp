// The validate-launch action under Wine, on both of its paths: elevated,
// where the user is the desktop shell's owner (the runner plays the shell),
// and unelevated, where it is the helper's own account.
#include "context_file.h"
#include "wine_test.h"

#include <algorithm>

namespace e2e {
namespace {

constexpr const char* user_mismatch =
    "The original user no longer matches the account setup can launch.";
constexpr const char* temp_mismatch =
    "The original temporary directory differs from the player account environment. Restart "
    "setup from the normal desktop.";

constexpr RunOptions under_the_shell{.unelevated = false, .desktop_shell = true};
constexpr RunOptions unelevated{.unelevated = true, .desktop_shell = false};

class ValidateLaunchEndToEnd : public WineTest {
protected:
    // The Wine user's temporary directory as Windows reports it, with its
    // trailing backslash.
    std::string wine_temp() {
        const RunResult probe = run_tool("ih-probe", {"temp"});
        EXPECT_EQ(probe.status, 0u);
        std::string temp = probe.standard_output;
        if (!temp.empty() && temp.back() == '\n') temp.pop_back();
        return temp;
    }

    RunResult validate(std::string_view sid, std::string_view temp, const RunOptions& options) {
        ContextFile context;
        context.sid = sid;
        context.temp = temp;
        write_file(scratch_path("context"), context.written());
        return run_helper({"-Action", "validate-launch", "-Output", scratch_path("context")},
                          options);
    }
};

std::string uppercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string without_trailing_backslash(std::string text) {
    while (!text.empty() && text.back() == '\\') text.pop_back();
    return text;
}

TEST_F(ValidateLaunchEndToEnd, AcceptsTheRecordedUserHoweverTheTemporaryDirectoryIsSpelt) {
    const std::string temp = wine_temp();
    ASSERT_EQ(temp.back(), '\\');
    for (const RunOptions& options : {under_the_shell, unelevated}) {
        SCOPED_TRACE(options.unelevated ? "unelevated" : "elevated under the shell");
        EXPECT_EQ(validate(wine_user_sid, temp, options), (RunResult{0, "", ""}));
        EXPECT_EQ(validate(wine_user_sid, uppercase(without_trailing_backslash(temp)), options),
                  (RunResult{0, "", ""}));
    }
}

TEST_F(ValidateLaunchEndToEnd, RefusesAnotherAccount) {
    const std::string temp = wine_temp();
    for (const RunOptions& options : {under_the_shell, unelevated}) {
        SCOPED_TRACE(options.unelevated ? "unelevated" : "elevated under the shell");
        EXPECT_EQ(validate("S-1-5-21-0-0-0-1001", temp, options), helper_error(user_mismatch));
        // The SID is compared byte for byte.
        EXPECT_EQ(validate("s-1-5-21-0-0-0-1000", temp, options), helper_error(user_mismatch));
    }
}

TEST_F(ValidateLaunchEndToEnd, RefusesAnotherTemporaryDirectory) {
    const std::string other = without_trailing_backslash(wine_temp()) + "\\elsewhere";
    for (const RunOptions& options : {under_the_shell, unelevated}) {
        SCOPED_TRACE(options.unelevated ? "unelevated" : "elevated under the shell");
        EXPECT_EQ(validate(wine_user_sid, other, options), helper_error(temp_mismatch));
        EXPECT_EQ(validate(wine_user_sid, "\\\\server\\share\\Temp", options),
                  helper_error("The installation path must be an absolute local path."));
    }
}

TEST_F(ValidateLaunchEndToEnd, ElevatedWithoutADesktopShellIsRefused) {
    EXPECT_EQ(validate(wine_user_sid, wine_temp(), {}),
              helper_error("The original user's desktop shell is unavailable."));
}

}  // namespace
}  // namespace e2e
