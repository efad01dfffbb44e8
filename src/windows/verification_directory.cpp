#include "windows/verification_directory.h"

#include "message_format.h"
#include "platform/win_api.h"
#include "windows/handles.h"
#include "windows/account.h"
#include "windows/installation_path.h"
#include "windows/pinned_directory.h"
#include "windows/reparse_points.h"
#include "windows/system_error.h"
#include "windows/user_environment.h"

#include <boost/uuid/string_generator.hpp>

#include <stdexcept>
#include <string>

namespace installer_helper {
namespace {

constexpr std::size_t identifier_length = 36;

// The original user may read, write, execute and delete, but neither change
// the permissions nor take ownership; administrators and the system have
// full control. "P" protects the list from the parent's entries, and every
// entry is inherited by files and subdirectories.
// The last entry gives the directory's owner (OW, OWNER RIGHTS) the
// user's rights and no more: an unelevated run makes the user the owner,
// whose implied rights would otherwise include changing the permissions.
constexpr std::string_view verification_permissions =
    "D:P(A;OICI;0x1301bf;;;{})(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;OW)";

constexpr std::string_view directory_name = "quillmora-migration-{}";

// The converter's descriptor, released with LocalFree on every path.
using SecurityDescriptorMemory = LocalMemory<void>;

Result<SecurityDescriptorMemory> convert_permissions(std::string_view sid) {
    const auto sddl = to_wide_nul(format_message(verification_permissions, sid));
    if (!sddl) return std::unexpected(sddl.error());
    SecurityDescriptorMemory descriptor;
    if (!win::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl->c_str(), win::SDDL_REVISION_1, descriptor.put(), nullptr))
        return std::unexpected(
            os_error_message("Could not prepare verification directory permissions"));
    return descriptor;
}

// An elevated run must not make, in a folder the user could not write, a
// directory the user may write: the temporary directory comes from the
// user's own environment and may name any folder. So it is used only when
// the original user owns it, as read through its pin.
Result<> ensure_owned_by(const PinnedDirectory& temp, std::string_view sid) {
    win::PSID owner = nullptr;
    LocalMemory<void> descriptor;
    const win::DWORD error = win::GetSecurityInfo(temp.handle(), win::SE_FILE_OBJECT,
                                                  win::OWNER_SECURITY_INFORMATION, &owner,
                                                  descriptor.put());
    if (error != win::ERROR_SUCCESS)
        return std::unexpected(
            os_error_message("Could not inspect the original temporary directory", error));
    const auto owner_text = sid_to_string(owner);
    if (!owner_text) return std::unexpected(owner_text.error());
    if (*owner_text != sid)
        return fail("The original temporary directory does not belong to the original user.");
    return {};
}

}  // namespace

bool is_verification_identifier(std::string_view text) {
    // With the length fixed at 36, the parser accepts only the hyphenated
    // form: the 32-digit, braced and "urn:uuid:" forms have other lengths.
    if (text.size() != identifier_length) return false;
    try {
        boost::uuids::string_generator()(text.begin(), text.end());
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

Result<> prepare_verification(const InstallerContext& context, std::string_view nonce) {
    if (auto valid = validate_launch(context); !valid) return std::unexpected(valid.error());
    if (!is_verification_identifier(nonce))
        return fail("Invalid migration verification identifier.");

    const auto temp = normalize_installation_path(context.temp);
    if (!temp) return std::unexpected(temp.error());
    const std::string directory = join_path(*temp, format_message(directory_name, nonce));
    if (auto checked = ensure_no_reparse_points(directory); !checked)
        return std::unexpected(checked.error());
    // The temporary directory and every one above it stay pinned until the
    // new directory exists, so its name cannot lead anywhere else.
    const auto pins = PinnedPath::from_root(*temp);
    if (!pins) return std::unexpected(pins.error());
    if (!pins->complete())
        return std::unexpected(os_error_message(
            "Could not create the migration verification directory", pins->missing_error()));
    if (auto owned = ensure_owned_by(pins->innermost(), context.sid); !owned) return owned;
    const auto wide_directory = to_wide_nul(directory);
    if (!wide_directory) return std::unexpected(wide_directory.error());

    const auto descriptor = convert_permissions(context.sid);
    if (!descriptor) return std::unexpected(descriptor.error());
    // Created with its final permissions: there is no moment in which the
    // directory exists with entries inherited from the temporary directory.
    const win::SECURITY_ATTRIBUTES attributes{.nLength = sizeof(win::SECURITY_ATTRIBUTES),
                                              .lpSecurityDescriptor = descriptor->get(),
                                              .bInheritHandle = win::FALSE};
    if (!win::CreateDirectoryW(wide_directory->c_str(), &attributes))
        return std::unexpected(
            os_error_message("Could not create the migration verification directory"));
    return {};
}

}  // namespace installer_helper
