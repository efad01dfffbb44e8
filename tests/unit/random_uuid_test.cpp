#include "windows/random_uuid.h"

#include "simulated_test.h"

#include <gtest/gtest.h>

#include <set>

using installer_helper::random_uuid_simple;

namespace {

class RandomUuidTest : public SimulatedTest {
protected:
    std::string draw() {
        const auto uuid = random_uuid_simple();
        EXPECT_TRUE(uuid) << uuid.error().message();
        return uuid.value_or("");
    }
};

TEST_F(RandomUuidTest, IsAVersionFourUuidFromTheSystemBytesInSimpleForm) {
    const struct {
        std::uint8_t first;
        std::uint8_t step;
        const char* uuid;
    } cases[] = {
        {0x00, 0, "00000000000040008000000000000000"},
        {0xFF, 0, "ffffffffffff4fffbfffffffffffffff"},
        {0xA0, 1, "a0a1a2a3a4a546a7a8a9aaabacadaeaf"},
    };
    for (const auto& c : cases) {
        machine.random.queued.clear();
        for (int i = 0; i < 64; ++i)
            machine.random.queued.push_back(static_cast<std::uint8_t>(c.first + c.step * i));
        EXPECT_EQ(draw(), c.uuid);
    }
}

TEST_F(RandomUuidTest, EachDrawIsNewAndWellFormed) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string uuid = draw();
        ASSERT_EQ(uuid.size(), 32u);
        EXPECT_EQ(uuid.find_first_not_of("0123456789abcdef"), std::string::npos) << uuid;
        EXPECT_EQ(uuid[12], '4') << uuid;                       // version 4
        EXPECT_NE(std::string("89ab").find(uuid[16]), std::string::npos) << uuid;  // RFC 4122
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST_F(RandomUuidTest, WithoutProcessPrngTheSystemPreferredGeneratorIsUsed) {
    machine.random.has_process_prng = false;
    EXPECT_EQ(draw().size(), 32u);
    EXPECT_EQ(machine.faults.calls("BCryptGenRandom"), 1);
}

TEST_F(RandomUuidTest, AFailingRandomSourceIsAnError) {
    machine.faults.fail_nth("ProcessPrng", 1, win::ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(random_uuid_simple().error().message(),
              "The system random number generator failed: Not enough memory resources are "
              "available to process this command. (os error 8)");
    machine.random.has_process_prng = false;
    machine.faults.fail_nth("BCryptGenRandom", 1, 0xC0000001);
    EXPECT_EQ(random_uuid_simple().error().message().substr(0, 43),
              "The system random number generator failed: ");
}

}  // namespace
