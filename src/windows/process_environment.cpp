#include "windows/process_environment.h"

#include "platform/win_api.h"
#include "text_encoding.h"

#include <vector>

namespace installer_helper {

std::optional<std::string> environment_variable(std::string_view name) {
    const std::u16string wide_name = utf16_from_wtf8(name) + u'\0';
    std::vector<char16_t> buffer(256);
    // The value may grow between the size query and the read; ask again.
    while (true) {
        win::SetLastError(win::ERROR_SUCCESS);
        const win::DWORD length = win::GetEnvironmentVariableW(
            wide_name.c_str(), buffer.data(), static_cast<win::DWORD>(buffer.size()));
        if (length == 0)
            return win::GetLastError() == win::ERROR_SUCCESS ? std::optional<std::string>("")
                                                             : std::nullopt;
        if (length < buffer.size()) return wtf8_from_utf16(std::u16string_view(buffer.data(), length));
        buffer.resize(length);
    }
}

}  // namespace installer_helper
