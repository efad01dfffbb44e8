#include "engine/launcher_binaries.h"

#include "windows/reparse_points.h"

namespace installer_helper {

Result<std::vector<std::string>> present_launcher_binaries(const MigrationTarget& target) {
    std::vector<std::string> present;
    for (const std::string_view name : LAUNCHER_BINARIES) {
        const auto binary = owned_path(target, name);
        if (!binary) return std::unexpected(binary.error());
        const auto kind = inspect_path(*binary);
        if (!kind) return std::unexpected(kind.error());
        if (*kind == PathKind::Directory || *kind == PathKind::ReparsePoint)
            return fail("An owned launcher binary is not a regular file.");
        if (*kind == PathKind::RegularFile) present.emplace_back(name);
    }
    return present;
}

}  // namespace installer_helper
