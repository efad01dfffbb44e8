#include "platform/simulated/system_messages.h"

namespace sim {

SystemMessages::SystemMessages() {
    system_ = {
        {0, u"The operation completed successfully.\r\n"},
        {2, u"The system cannot find the file specified.\r\n"},
        {3, u"The system cannot find the path specified.\r\n"},
        {5, u"Access is denied.\r\n"},
        {6, u"The handle is invalid.\r\n"},
        {8, u"Not enough memory resources are available to process this command.\r\n"},
        {15, u"The system cannot find the drive specified.\r\n"},
        {18, u"There are no more files.\r\n"},
        {21, u"The device is not ready.\r\n"},
        {32, u"The process cannot access the file because it is being used by another process.\r\n"},
        {53, u"The network path was not found.\r\n"},
        {67, u"The network name cannot be found.\r\n"},
        {87, u"The parameter is incorrect.\r\n"},
        {112, u"There is not enough space on the disk.\r\n"},
        {120, u"This function is not supported on this system.\r\n"},
        {122, u"The data area passed to a system call is too small.\r\n"},
        {123, u"The filename, directory name, or volume label syntax is incorrect.\r\n"},
        {145, u"The directory is not empty.\r\n"},
        {183, u"Cannot create a file when that file already exists.\r\n"},
        {1305, u"The revision level is unknown.\r\n"},
        {1336, u"The access control list (ACL) structure is invalid.\r\n"},
        {1337, u"The security ID structure is invalid.\r\n"},
        {1338, u"The security descriptor structure is invalid.\r\n"},
        {1920, u"The file cannot be accessed by the system.\r\n"},
        {1921, u"The name of the file cannot be resolved by the system.\r\n"},
        // Creating over an existing file, and listing a file as a directory.
        {80, u"The file exists.\r\n"},
        {267, u"The directory name is invalid.\r\n"},
    };
    ntdll_ = {
        {0xC0000022, u"{Access Denied}\r\nA process has requested access to an object, but has "
                     u"not been granted those access rights.\r\n"},
        {0xC0000034, u"Object Name not found.\r\n"},
    };
}

std::optional<std::u16string> SystemMessages::system(win::DWORD code) const {
    const auto found = system_.find(code);
    if (found == system_.end()) return std::nullopt;
    return found->second;
}

std::optional<std::u16string> SystemMessages::ntdll(win::DWORD status) const {
    const auto found = ntdll_.find(status);
    if (found == ntdll_.end()) return std::nullopt;
    return found->second;
}

}  // namespace sim
