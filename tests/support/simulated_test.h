// A test that runs against a fresh simulated Windows machine and checks at
// the end that the code under test released every handle and allocation.
#pragma once

#include "platform/simulated/machine.h"
#include "text_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

class SimulatedTest : public ::testing::Test {
protected:
    sim::Machine machine;

    void TearDown() override {
        EXPECT_EQ(machine.open_handle_count(), 0u) << "a handle was left open";
        EXPECT_EQ(machine.outstanding_allocations(), 0u) << "system memory was not freed";
    }

private:
    sim::ScopedMachine installed_{machine};
};

inline std::u16string u16(std::string_view text) { return installer_helper::utf16_from_wtf8(text); }
