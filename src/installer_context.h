// The installer context file: what the context run learned about the
// original user and the installation, for every later run.
#pragma once

#include "outcome.h"
#include "registry_scope.h"

#include <string>
#include <string_view>

namespace installer_helper {

struct InstallerContext {
    std::string sid;
    std::string temp;
    std::string desktop;
    std::string programs;
    std::string local;
    std::string roaming;
    std::string directory;
    RegistryScope scope = RegistryScope::User;
    bool legacy = false;
    bool elevate = false;
    friend bool operator==(const InstallerContext&, const InstallerContext&) = default;
};

inline constexpr std::size_t installer_context_size_limit = 65536;

Result<InstallerContext> read_installer_context(std::string_view path);
Result<InstallerContext> decode_installer_context(std::string_view bytes);
Result<std::string> encode_installer_context(const InstallerContext& context);
Result<> write_installer_context(std::string_view path, const InstallerContext& context);

// The normalised -Directory, which must name the context's installation
// directory.
Result<std::string> resolve_action_directory(std::string_view directory,
                                             const InstallerContext& context);

}  // namespace installer_helper
