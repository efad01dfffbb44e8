#include "outcome.h"

#include "platform/win_api.h"
#include "text_encoding.h"

namespace installer_helper {
namespace {

constexpr const char* elevation_required_message =
    "Administrator permission is required to restore this installation.\n";

// A console that does not expect UTF-8 gets UTF-16 through the console
// interface, so that it shows the same characters.
bool write_to_console(win::HANDLE console, const std::string& line) {
    const std::u16string text = utf16_from_wtf8(line);
    std::size_t done = 0;
    while (done < text.size()) {
        win::DWORD written = 0;
        if (!win::WriteConsoleW(console, text.data() + done,
                                static_cast<win::DWORD>(text.size() - done), &written) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}

bool write_to_file(win::HANDLE file, const std::string& line) {
    std::size_t done = 0;
    while (done < line.size()) {
        win::DWORD written = 0;
        if (!win::WriteFile(file, line.data() + done, static_cast<win::DWORD>(line.size() - done),
                            &written) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}

void write_standard_error(const std::string& line) {
    const win::HANDLE error = win::GetStdHandle(win::STD_ERROR_HANDLE);
    if (error == nullptr || error == win::INVALID_HANDLE_VALUE) return;  // no stream: dropped
    win::DWORD mode = 0;
    const bool is_console = win::GetConsoleMode(error, &mode) != 0;
    if (is_console && win::GetConsoleOutputCP() != win::CP_UTF8) {
        write_to_console(error, line);
    } else {
        write_to_file(error, line);
    }
}

// Setup reads one line: every line break inside a message becomes a space.
std::string one_line(std::string_view message) {
    std::string line;
    line.reserve(message.size() + 1);
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n') continue;
        line += (c == '\r' || c == '\n') ? ' ' : c;
    }
    return line + "\n";
}

}  // namespace

RunReport report_for(const Result<ActionOutcome>& result) {
    if (!result) return {one_line(result.error().message()), exit_status_error};
    struct Visitor {
        RunReport operator()(const Done&) const { return {"", 0}; }
        RunReport operator()(const ElevationRequired&) const {
            return {elevation_required_message, exit_status_elevation_required};
        }
        RunReport operator()(const DoneWithMessage& done) const { return {one_line(done.text), 2}; }
    };
    return std::visit(Visitor{}, *result);
}

int finish(const Result<ActionOutcome>& result) {
    const RunReport report = report_for(result);
    if (!report.line.empty()) write_standard_error(report.line);
    return report.status;
}

}  // namespace installer_helper
