// The helper's standard streams in the simulated machine.
#pragma once

#include "platform/win_api.h"

#include <string>

namespace sim {

struct Console {
    enum class Stream { absent, pipe, console };
    Stream error = Stream::pipe;
    Stream output = Stream::pipe;
    win::UINT output_code_page = win::CP_UTF8;

    // What reached each stream: bytes through WriteFile, UTF-16 through
    // WriteConsoleW.
    std::string error_bytes;
    std::u16string error_console_text;
    std::string output_bytes;
    int error_writes = 0;  // calls that wrote to standard error
};

}  // namespace sim
