// The command line: splitting the raw process command line, and parsing the
// named options into one record.
#pragma once

#include "outcome.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installer_helper {

enum class Action { Context, Begin, Stop, Rollback, Commit, ValidateLaunch, PrepareVerification };

struct InstallerArguments {
    Action action = Action::Context;
    std::string output;
    std::optional<std::string> directory;  // kept exactly as given
    std::optional<std::string> original_sid;
    std::optional<std::string> original_temp;
    std::optional<std::string> nonce;
    bool uninstall = false;
};

// The arguments after argument 0, split by the standard Windows rules.
std::vector<std::u16string> split_command_line(std::u16string_view command_line);

// Parses the arguments (platform strings) with every check in its fixed order.
Result<InstallerArguments> parse_arguments(const std::vector<std::u16string>& arguments);

}  // namespace installer_helper
