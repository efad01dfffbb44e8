// The machine's random source: ProcessPrng where the system has it,
// BCryptGenRandom always. The bytes come from a fixed-seed generator, so a
// test run repeats; tests may queue the exact bytes the next draws give.
#pragma once

#include "platform/win_api.h"

#include <cstdint>
#include <deque>
#include <random>

namespace sim {

class RandomSource {
public:
    bool has_process_prng = true;
    // Bytes handed out before the generator's own, in order.
    std::deque<std::uint8_t> queued;

    void fill(std::uint8_t* data, std::size_t length);

private:
    std::mt19937 generator_{20261209};
};

}  // namespace sim
