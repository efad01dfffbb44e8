// The helper's one error value, its one success value, and the end of a run.
#pragma once

#include <expected>
#include "message_format.h"

#include <string>
#include <utility>
#include <variant>

namespace installer_helper {

// One complete English message for the person running setup. Every exit
// caused by an error has status 1.
class HelperError {
public:
    explicit HelperError(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }
    friend bool operator==(const HelperError&, const HelperError&) = default;

private:
    std::string message_;
};

template <typename T = void>
using Result = std::expected<T, HelperError>;

inline std::unexpected<HelperError> fail(std::string message) {
    return std::unexpected(HelperError(std::move(message)));
}

struct Done {
    friend bool operator==(const Done&, const Done&) = default;
};
struct ElevationRequired {
    friend bool operator==(const ElevationRequired&, const ElevationRequired&) = default;
};
struct DoneWithMessage {
    std::string text;
    friend bool operator==(const DoneWithMessage&, const DoneWithMessage&) = default;
};
using ActionOutcome = std::variant<Done, ElevationRequired, DoneWithMessage>;

inline constexpr int exit_status_error = 1;
inline constexpr int exit_status_elevation_required = 740;  // ERROR_ELEVATION_REQUIRED

// What a result says to setup: the line for standard error (empty for none,
// else ending with a lone line feed) and the exit status.
struct RunReport {
    std::string line;
    int status = 0;
    friend bool operator==(const RunReport&, const RunReport&) = default;
};
RunReport report_for(const Result<ActionOutcome>& result);

// Writes the result's line to standard error in one piece and gives the exit
// status for the process to end with.
int finish(const Result<ActionOutcome>& result);

}  // namespace installer_helper
