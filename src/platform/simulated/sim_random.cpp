// The seam's random functions on the simulated machine.
#include "platform/simulated/machine.h"

namespace sim {

void RandomSource::fill(std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (!queued.empty()) {
            data[i] = queued.front();
            queued.pop_front();
        } else {
            data[i] = static_cast<std::uint8_t>(generator_() & 0xFF);
        }
    }
}

}  // namespace sim

namespace win {

BOOL ProcessPrng(std::uint8_t* data, std::size_t length) {
    sim::Machine& machine = sim::current();
    if (!machine.random.has_process_prng) {
        machine.set_last_error(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    if (!machine.enter("ProcessPrng", false)) return FALSE;
    machine.random.fill(data, length);
    return TRUE;
}

// An injected fault's error code stands for the NTSTATUS answered.
NTSTATUS BCryptGenRandom(void* algorithm, std::uint8_t* buffer, std::uint32_t length, DWORD flags) {
    sim::Machine& machine = sim::current();
    const DWORD before = machine.last_error;
    if (!machine.enter("BCryptGenRandom", false)) {
        const auto status = static_cast<NTSTATUS>(machine.last_error);
        machine.set_last_error(before);
        return status;
    }
    constexpr auto invalid_parameter = static_cast<NTSTATUS>(0xC000000D);
    if (algorithm != nullptr || flags != BCRYPT_USE_SYSTEM_PREFERRED_RNG) return invalid_parameter;
    machine.random.fill(buffer, length);
    return STATUS_SUCCESS;
}

}  // namespace win
