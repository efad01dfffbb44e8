#include "windows/random_uuid.h"

#include "platform/win_api.h"
#include "windows/system_error.h"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

namespace installer_helper {
namespace {

constexpr std::string_view random_failure = "The system random number generator failed";
// An NT status reported as a Windows error code, so that its description
// comes from NTDLL's message table.
constexpr win::DWORD nt_facility_bit = 0x10000000;

// Boost's generator draws 32-bit words; four make a UUID. The spare words
// cover any extra draws its distribution might make.
constexpr std::size_t prefetched_words = 16;

// A uniform random bit generator over words drawn from the system up front,
// so that the one fallible step happens before Boost runs.
class PrefetchedWords {
public:
    using result_type = std::uint32_t;
    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return std::numeric_limits<result_type>::max(); }

    explicit PrefetchedWords(const std::array<std::uint8_t, prefetched_words * 4>& bytes) {
        for (std::size_t i = 0; i < prefetched_words; ++i)
            words_[i] = static_cast<result_type>(bytes[4 * i]) |
                        static_cast<result_type>(bytes[4 * i + 1]) << 8 |
                        static_cast<result_type>(bytes[4 * i + 2]) << 16 |
                        static_cast<result_type>(bytes[4 * i + 3]) << 24;
    }
    result_type operator()() {
        if (next_ == words_.size()) {
            exhausted_ = true;
            return 0;
        }
        return words_[next_++];
    }
    bool exhausted() const { return exhausted_; }

private:
    std::array<result_type, prefetched_words> words_{};
    std::size_t next_ = 0;
    bool exhausted_ = false;
};

// ProcessPrng first; where the system has none, BCryptGenRandom with the
// system-preferred generator.
Result<> fill_random(std::uint8_t* data, std::size_t length) {
    if (win::ProcessPrng(data, length)) return {};
    const win::DWORD error = win::GetLastError();
    if (error != win::ERROR_CALL_NOT_IMPLEMENTED)
        return std::unexpected(os_error_message(random_failure, error));
    const win::NTSTATUS status = win::BCryptGenRandom(
        nullptr, data, static_cast<std::uint32_t>(length), win::BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status != win::STATUS_SUCCESS)
        return std::unexpected(
            os_error_message(random_failure, static_cast<win::DWORD>(status) | nt_facility_bit));
    return {};
}

}  // namespace

Result<std::string> random_uuid_simple() {
    std::array<std::uint8_t, prefetched_words * 4> bytes{};
    if (auto filled = fill_random(bytes.data(), bytes.size()); !filled)
        return std::unexpected(filled.error());
    PrefetchedWords words(bytes);
    boost::uuids::basic_random_generator<PrefetchedWords> generate(words);
    const boost::uuids::uuid uuid = generate();
    if (words.exhausted()) return fail("The system random number generator failed: too few random bytes.");
    std::string text = boost::uuids::to_string(uuid);
    text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    return text;
}

}  // namespace installer_helper
