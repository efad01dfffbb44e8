#include "platform/simulated/machine.h"

#include <gtest/gtest.h>

TEST(Smoke, MachineInstalls) {
    sim::Machine machine;
    sim::ScopedMachine installed(machine);
    EXPECT_EQ(&sim::current(), &machine);
}
