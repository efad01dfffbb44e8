// Every listed difference between Wine and Windows (or between the helper and
// a system function, by design) must still happen; one that stopped is taken
// off the list together with whatever worked around it.
#include "wine_differences.h"
#include "wine_test.h"

namespace e2e {
namespace {

class KnownDifferences : public WineTest,
                         public ::testing::WithParamInterface<KnownDifference> {};

TEST_P(KnownDifferences, StillHappen) {
    const KnownDifference& difference = GetParam();
    EXPECT_TRUE(difference.still_happens(*this))
        << "the listed difference \"" << difference.name
        << "\" no longer happens; its reason was: " << difference.reason;
}

std::string test_name(const ::testing::TestParamInfo<KnownDifference>& info) {
    std::string name;
    for (const char c : info.param.name)
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
    return name;
}

INSTANTIATE_TEST_SUITE_P(Wine, KnownDifferences, ::testing::ValuesIn(known_differences()),
                         test_name);

}  // namespace
}  // namespace e2e
