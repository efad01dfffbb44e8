// Simulated time. Nothing in the simulation sleeps: a wait with a timeout
// moves the clock forward instead, so tests can tell how long the helper
// would have waited.
#pragma once

#include <cstdint>

namespace sim {

struct Clock {
    std::uint64_t milliseconds = 0;
    void advance(std::uint64_t by) { milliseconds += by; }
};

}  // namespace sim
