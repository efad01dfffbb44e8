// The runner's promises, checked under Wine, since every other end-to-end
// test relies on them.
#include "wine_test.h"

namespace e2e {
namespace {

using RunnerTest = WineTest;

TEST_F(RunnerTest, UnelevatedProgramsHaveALimitedToken) {
    EXPECT_EQ(run_tool("ih-probe", {"elevation"}, {.unelevated = true}),
              (RunResult{0, "elevated=0\n", ""}));
}

TEST_F(RunnerTest, TheRunnerOwnsTheShellWindowWhileTheProgramRuns) {
    for (const bool unelevated : {false, true}) {
        const RunResult probe = run_tool("ih-probe", {"shell"},
                                         {.unelevated = unelevated, .desktop_shell = true});
        // ih-run wrote the window and its own process id before starting the
        // probe; the probe must see exactly those.
        const std::string shell = last_run_file(".shell");
        ASSERT_FALSE(shell.empty());
        EXPECT_NE(shell, "window=0 process=0\n");
        EXPECT_EQ(probe, (RunResult{0, shell, ""})) << "unelevated: " << unelevated;
    }
}

TEST_F(RunnerTest, ReportsAllThirtyTwoBitsOfTheExitStatus) {
    // 740 is what the helper returns when elevation is required; Wine hands
    // the host only the low byte.
    EXPECT_EQ(run_tool("ih-probe", {"exit", "740"}), (RunResult{740, "", ""}));
    EXPECT_EQ(run_tool("ih-probe", {"exit", "3221225477"}), (RunResult{3221225477u, "", ""}));
}

TEST_F(RunnerTest, PassesTheCommandLineExactly) {
    // Tabs, quotes that no splitter would leave, a line feed, a lone
    // surrogate and a character above U+FFFF reach the child unchanged.
    const std::string line = "\"" + wine::tool_path("ih-probe") +
                             "\" command-line\t\"a\"\"b\\\" \n\xED\xA0\x80 \xF0\x9F\x98\x80 ";
    EXPECT_EQ(run_program(wine::tool_path("ih-probe"), line), (RunResult{0, line, ""}));
}

}  // namespace
}  // namespace e2e
