// The end-to-end tests' main. Besides running tests it has two jobs of its
// own for ctest's fixture: make the Wine prefix ready before the first test,
// and end the wine server after the last.
#include "wine_session.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class WineEnvironment : public ::testing::Environment {
public:
    void SetUp() override { e2e::wine::prepare(); }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--prepare-wine-prefix") == 0) {
        e2e::wine::prepare();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--shut-down-wine") == 0) {
        e2e::wine::shut_down();
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new WineEnvironment);
    return RUN_ALL_TESTS();
}
