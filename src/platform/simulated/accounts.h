// Accounts, SIDs and tokens of the simulated machine.
#pragma once

#include "platform/win_api.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Sid {
    std::uint64_t authority = 0;
    std::vector<std::uint32_t> sub_authorities;
    friend bool operator==(const Sid&, const Sid&) = default;
};

// Reads SID text as ConvertStringSidToSidW does: more leniently than the
// canonical form (either letter case of the S, leading zeros, a 0x
// authority, the two-letter SDDL aliases).
std::optional<Sid> parse_sid_text(std::u16string_view text);
// Writes SID text as ConvertSidToStringSidW does: an authority of 2^32 or
// more in hexadecimal.
std::u16string format_sid(const Sid& sid);
// The binary form: revision, count, six authority bytes (big-endian), then
// the sub-authorities (little-endian).
std::vector<std::uint8_t> sid_bytes(const Sid& sid);
std::optional<Sid> sid_from_bytes(const void* bytes);

struct Accounts {
    // The helper's own process token.
    std::string user_sid = "S-1-5-21-1004336348-1177238915-682003330-1001";
    bool elevated = false;
    // When set, ConvertSidToStringSidW answers this text for every SID.
    std::optional<std::u16string> sid_text_override;
};

}  // namespace sim
