// The command line as setup passes it: the real process command line, split
// and parsed by the helper, with every failure's exact line and status.
#include "wine_test.h"

namespace e2e {
namespace {

using CommandLineEndToEnd = WineTest;

TEST_F(CommandLineEndToEnd, NoArgumentsNeedAnAction) {
    EXPECT_EQ(run_helper({}), helper_error("A supported installer action is required."));
}

}  // namespace
}  // namespace e2e
