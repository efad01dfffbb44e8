// ih-argv: splits command lines the way Windows programs do, so the host can
// compare the helper's own splitter with them, many lines in one start.
//
//   ih-argv.exe INPUT OUTPUT
//
// INPUT has one command line per line: "S:" to split it with the system's
// CommandLineToArgvW, or "C:" to split it with the C runtime (it becomes the
// command line of a child ih-argv, which reports the argv its runtime built),
// then the line as UTF-16 code units of four hexadecimal digits each, so that
// any unit, a lone surrogate or a tab among them, passes untouched. OUTPUT
// gets one line per input line: the argument count, then each argument,
// argument 0 included, as a space and its code units in the same form ("-"
// for an empty argument).
#include "tool_support.h"

#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* tool = "ih-argv";

bool parse_hex_units(std::string_view hex, std::wstring& units) {
    if (hex.size() % 4 != 0) return false;
    units.clear();
    for (std::size_t i = 0; i < hex.size(); i += 4) {
        unsigned value = 0;
        for (std::size_t k = i; k < i + 4; ++k) {
            const char digit = hex[k];
            value <<= 4;
            if (digit >= '0' && digit <= '9') value |= digit - '0';
            else if (digit >= 'a' && digit <= 'f') value |= digit - 'a' + 10;
            else if (digit >= 'A' && digit <= 'F') value |= digit - 'A' + 10;
            else return false;
        }
        units.push_back(static_cast<wchar_t>(value));
    }
    return true;
}

std::string hex_units(std::wstring_view units) {
    if (units.empty()) return "-";
    std::string hex;
    char digits[5];
    for (const wchar_t unit : units) {
        std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(unit));
        hex += digits;
    }
    return hex;
}

std::string argument_line(int count, wchar_t** arguments) {
    std::string line = std::to_string(count);
    for (int i = 0; i < count; ++i) line += " " + hex_units(arguments[i]);
    return line + "\n";
}

constexpr const wchar_t* child_result_variable = L"IH_ARGV_CHILD_RESULT";

// A child started for a "C:" line: its own argv, as its C runtime split it.
bool report_as_child(int argc, wchar_t** argv) {
    wchar_t result[MAX_PATH];
    if (GetEnvironmentVariableW(child_result_variable, result, MAX_PATH) == 0) return false;
    if (!tools::write_whole_file(result, argument_line(argc, argv)))
        tools::fail_tool(tool, "cannot write the child's result");
    return true;
}

std::string crt_split(const std::wstring& command_line, const std::wstring& result_file) {
    wchar_t self[MAX_PATH];
    if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0) tools::fail_tool(tool, "GetModuleFileNameW failed");
    std::wstring writable = command_line;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    DeleteFileW(result_file.c_str());
    if (!CreateProcessW(self, writable.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        nullptr, &startup, &started))
        tools::fail_tool(tool, "cannot start the child");
    const tools::Handle process(started.hProcess);
    const tools::Handle thread(started.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    std::string line;
    if (!tools::read_whole_file(result_file, line)) tools::fail_tool(tool, "the child gave no result");
    return line;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (report_as_child(argc, argv)) return 0;
    if (argc != 3) {
        std::fprintf(stderr, "usage: ih-argv.exe INPUT OUTPUT\n");
        return tools::tool_failure;
    }
    const wchar_t* input_path = argv[1];
    const std::wstring output_path = argv[2];
    const std::wstring child_result = output_path + L".child";
    SetEnvironmentVariableW(child_result_variable, child_result.c_str());
    std::string input;
    if (!tools::read_whole_file(input_path, input)) tools::fail_tool(tool, "cannot read the input");

    std::string output;
    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        const std::string_view line = std::string_view(input).substr(start, end - start);
        start = end + 1;
        const bool crt = line.starts_with("C:");
        std::wstring command_line;
        if (!(crt || line.starts_with("S:")) || !parse_hex_units(line.substr(2), command_line))
            tools::fail_tool(tool, "an input line is not S: or C: and hexadecimal code units", 0);

        if (crt) {
            output += crt_split(command_line, child_result);
            continue;
        }
        int count = 0;
        wchar_t** arguments = CommandLineToArgvW(command_line.c_str(), &count);
        if (arguments == nullptr) tools::fail_tool(tool, "CommandLineToArgvW failed");
        output += argument_line(count, arguments);
        LocalFree(arguments);
    }
    DeleteFileW(child_result.c_str());
    if (!tools::write_whole_file(output_path, output)) tools::fail_tool(tool, "cannot write the output");
    return 0;
}
