#include "engine/owned_paths.h"

#include "windows/account.h"
#include "windows/installation_path.h"
#include "windows/reparse_points.h"

#include <algorithm>
#include <vector>

namespace installer_helper {
namespace {

constexpr const char* escaped = "Installer path escaped the installation directory.";

// One component of a relative name, to be appended as it is. Besides the
// names that move up or stay put, Windows would also drop trailing dots and
// spaces, so "..." would name the installation directory itself.
bool is_plain_component(std::string_view component) {
    if (component.empty() || component == "." || component == "..") return false;
    if (component.find_first_of(std::string_view("\\:\0", 3)) != std::string_view::npos)
        return false;
    return component.back() != '.' && component.back() != ' ';
}

std::vector<std::string_view> components_of(std::string_view path) {
    std::vector<std::string_view> components;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        components.push_back(path.substr(start, end - start));
        if (end == std::string_view::npos) return components;
        start = end + 1;
    }
}

// Whether `path` names an entry inside `directory`, by components.
bool lies_below(std::string_view path, std::string_view directory) {
    const auto inner = components_of(path);
    const auto outer = components_of(directory);
    return inner.size() > outer.size() && std::equal(outer.begin(), outer.end(), inner.begin());
}

}  // namespace

Result<MigrationTarget> open_migration_target(std::string_view directory,
                                              const InstallerContext& context) {
    auto normalized = normalize_installation_path(directory);
    if (!normalized) return std::unexpected(normalized.error());
    if (!same_installation_path(*normalized, context.directory) ||
        !is_canonical_sid_text(context.sid))
        return fail("The migration context does not match the installation or original user.");
    if (auto checked = ensure_no_reparse_points(*normalized); !checked)
        return std::unexpected(checked.error());
    const auto kind = inspect_path(*normalized);
    if (!kind) return std::unexpected(kind.error());
    if (*kind != PathKind::Directory) return fail("The installation directory is unavailable.");
    auto pins = PinnedPath::from_root(*normalized);
    if (!pins) return std::unexpected(pins.error());
    if (!pins->complete()) return fail("The installation directory is unavailable.");
    return MigrationTarget(std::move(*normalized), context, std::move(*pins));
}

Result<OwnedPath> owned_path(const MigrationTarget& target, std::string_view relative) {
    std::string path = target.directory();
    std::size_t start = 0;
    while (true) {
        const std::size_t end = relative.find('/', start);
        const std::string_view component = relative.substr(start, end - start);
        if (!is_plain_component(component)) return fail(escaped);
        path = join_path(path, component);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (!lies_below(path, target.directory())) return fail(escaped);
    // The installation directory and everything above it were checked and
    // pinned when the target was opened; the directories in between are
    // checked as they are pinned now, so only the entry itself is left.
    auto parents = PinnedPath::below(target.directory(), path.substr(0, path.rfind('\\')));
    if (!parents) return std::unexpected(parents.error());
    if (parents->complete()) {
        const auto kind = inspect_path(path);
        if (!kind) return std::unexpected(kind.error());
        if (*kind == PathKind::ReparsePoint)
            return fail("A junction or symbolic link cannot be modified by setup.");
    }
    return OwnedPath(std::move(path), std::move(*parents));
}

}  // namespace installer_helper
