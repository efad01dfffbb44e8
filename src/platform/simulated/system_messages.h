// The system's descriptions of error codes, as FormatMessageW gives them.
#pragma once

#include "platform/win_api.h"

#include <map>
#include <optional>
#include <string>

namespace sim {

class SystemMessages {
public:
    SystemMessages();
    // The text FormatMessageW gives, CR LF included; absent when unknown.
    std::optional<std::u16string> system(win::DWORD code) const;
    std::optional<std::u16string> ntdll(win::DWORD status) const;
    void set_system(win::DWORD code, std::u16string text) { system_[code] = std::move(text); }

private:
    std::map<win::DWORD, std::u16string> system_;
    std::map<win::DWORD, std::u16string> ntdll_;
};

}  // namespace sim
