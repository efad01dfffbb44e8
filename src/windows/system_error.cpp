#include "windows/system_error.h"

#include "text_encoding.h"

#include "message_format.h"

namespace installer_helper {
namespace {

constexpr win::DWORD nt_facility_bit = 0x10000000;
constexpr win::DWORD message_buffer_units = 2048;

bool is_trailing_space(char16_t unit) {
    return unit == u' ' || (unit >= u'\t' && unit <= u'\r') || unit == 0x85 || unit == 0xA0 ||
           unit == 0x1680 || (unit >= 0x2000 && unit <= 0x200A) || unit == 0x2028 ||
           unit == 0x2029 || unit == 0x202F || unit == 0x205F || unit == 0x3000;
}

std::string describe(win::DWORD code) {
    win::DWORD flags = win::FORMAT_MESSAGE_FROM_SYSTEM | win::FORMAT_MESSAGE_IGNORE_INSERTS;
    win::DWORD message_id = code;
    const void* module = nullptr;
    if ((code & nt_facility_bit) != 0) {
        // An NT status carried as a Windows error: its text is in NTDLL.DLL.
        message_id = code & ~nt_facility_bit;
        module = win::GetModuleHandleW(u"NTDLL.DLL");
        flags |= win::FORMAT_MESSAGE_FROM_HMODULE;
    }
    char16_t buffer[message_buffer_units] = {};
    const win::DWORD length =
        win::FormatMessageW(flags, module, message_id, 0, buffer, message_buffer_units);
    if (length == 0) {
        return format_message("OS Error {} (FormatMessageW() returned error {})", code,
                           win::GetLastError());
    }
    std::u16string_view text(buffer, length);
    while (!text.empty() && is_trailing_space(text.back())) text.remove_suffix(1);
    const auto utf8 = utf8_from_utf16(text);
    if (!utf8) return format_message("OS Error {} (FormatMessageW() returned invalid UTF-16)", code);
    return *utf8;
}

}  // namespace

bool means_path_missing(win::DWORD code) {
    return code == win::ERROR_FILE_NOT_FOUND || code == win::ERROR_PATH_NOT_FOUND ||
           code == win::ERROR_INVALID_DRIVE || code == win::ERROR_BAD_NETPATH ||
           code == win::ERROR_BAD_NET_NAME;
}

std::string system_error_text(win::DWORD code) {
    return format_message("{} (os error {})", describe(code), code);
}

HelperError os_error_message(std::string_view text) {
    return os_error_message(text, win::GetLastError());
}

HelperError os_error_message(std::string_view text, win::DWORD code) {
    return HelperError(format_message("{}: {}", text, system_error_text(code)));
}

}  // namespace installer_helper
