// Where what the end-to-end tests see under Wine differs from Windows, or from
// the helper by design: the one list, each entry with its reason and a check
// that the difference still happens. The KnownDifferences tests run every
// check, so an entry that stops being true fails the run and the list never
// goes stale (as Wine's own conformance tests do with todo_wine).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace e2e {

class WineTest;

struct KnownDifference {
    std::string_view name;
    std::string_view reason;
    // Succeeds while the difference still happens.
    ::testing::AssertionResult (*still_happens)(WineTest& test);
};
std::span<const KnownDifference> known_differences();
void PrintTo(const KnownDifference& difference, std::ostream* out);

// A description of a Windows error as FormatMessageW gives it under Wine, and
// the one Windows gives. The helper's messages carry the system's text, so
// expected messages are built from this table and never from Windows' texts.
struct SystemMessage {
    std::uint32_t code;
    std::string_view wine;
    std::string_view windows;
};
std::span<const SystemMessage> system_messages();

// The DACL of a directory created with the verification directory's
// permissions for Wine's user, as "ih-acl show" prints it: what Windows keeps,
// and what Wine 8 shows instead (see "directories keep no DACL").
inline constexpr std::string_view verification_dacl_on_windows =
    "protected=1\n"
    "allow OICI 0x1301bf S-1-5-21-0-0-0-1000\n"
    "allow OICI 0x1f01ff S-1-5-32-544\n"
    "allow OICI 0x1f01ff S-1-5-18\n"
    "allow OICI 0x1301bf S-1-3-4\n";
inline constexpr std::string_view verification_dacl_under_wine =
    "protected=0\n"
    "allow OICI 0x1f01ff S-1-5-18\n"
    "allow OICI 0x1f01ff S-1-5-21-0-0-0-1000\n";

// The I/O error text of a Windows error as the helper builds it under Wine:
// "<Wine's description> (os error <code>)". The code must be in the table.
std::string os_error_text(std::uint32_t code);

}  // namespace e2e
