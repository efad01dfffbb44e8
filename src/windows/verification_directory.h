// The verification directory: a fresh directory in the original user's
// temporary directory that setup uses to check what it can launch for that
// user. Only that user, administrators and the system have access to it, and
// it inherits nothing from its parent.
#pragma once

#include "installer_context.h"
#include "outcome.h"

#include <string_view>

namespace installer_helper {

// Whether the text is a UUID written in its 36-character hyphenated form,
// hexadecimal digits in either case; no version or variant is required.
bool is_verification_identifier(std::string_view text);

// Re-checks the original user as validate-launch does, then creates
// "quillmora-migration-{identifier}" in the context's temporary directory
// with its final permissions in one step. An existing directory of that name
// is an error, so each identifier can be prepared once.
Result<> prepare_verification(const InstallerContext& context, std::string_view nonce);

}  // namespace installer_helper
