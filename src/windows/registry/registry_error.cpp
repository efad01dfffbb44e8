#include "windows/registry/registry.h"

#include "message_format.h"
#include "text_encoding.h"

namespace installer_helper {

Result<> registry_error(std::string_view word, std::uint32_t status) {
    if (status == 0) return {};
    return fail(format_message("Registry {} failed (Windows error {}).", word, status));
}

Result<std::u16string> to_registry_name(std::string_view name) {
    if (name.find('\0') != std::string_view::npos)
        return fail("A registry name contains a null character.");
    std::u16string wide = utf16_from_wtf8(name);
    wide.push_back(u'\0');
    return wide;
}

}  // namespace installer_helper
