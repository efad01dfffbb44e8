// Opening a key path one component at a time, each component opened as
// itself (never through a registry link) and checked for being a link
// before the next one is opened below it.
#include "windows/registry/registry.h"

#include "message_format.h"
#include "windows/account.h"
#include "windows/registry/registry_internals.h"

#include <cstdint>
#include <vector>

namespace installer_helper {
namespace {

using registry_internals::check_status;
using registry_internals::is_absent;

std::vector<std::string_view> split_components(std::string_view path) {
    std::vector<std::string_view> components;
    std::size_t start = 0;
    while (true) {
        const std::size_t separator = path.find('\\', start);
        components.push_back(path.substr(start, separator - start));
        if (separator == std::string_view::npos) return components;
        start = separator + 1;
    }
}

// Empty components come from an empty path and from leading, trailing or
// doubled backslashes; "." and ".." would mean something else to a reader.
Result<std::vector<std::string_view>> checked_components(std::string_view path) {
    if (path.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
        return fail("Invalid registry path.");
    std::vector<std::string_view> components = split_components(path);
    for (const std::string_view component : components) {
        if (component.empty() || component == "." || component == "..")
            return fail("Invalid registry path.");
    }
    return components;
}

Result<> ensure_not_a_link(win::HKEY key) {
    win::DWORD type = 0;
    const win::LONG status =
        win::RegQueryValueExW(key, u"SymbolicLinkValue", &type, nullptr, nullptr);
    if (is_absent(status)) return {};
    if (auto checked = check_status("link inspection", status); !checked) return checked;
    if (type == REG_LINK) return fail("A registry symbolic link is not allowed.");
    return {};
}

// One component below `base`, opened as itself; created when asked and
// missing. Absent (not an error) when it does not exist.
Result<std::optional<RegistryKey>> open_component(win::HKEY base, const std::u16string& name,
                                                  win::REGSAM access, bool create) {
    win::HKEY opened = nullptr;
    win::LONG status =
        win::RegOpenKeyExW(base, name.c_str(), win::REG_OPTION_OPEN_LINK, access, &opened);
    RegistryKey key(status == 0 ? opened : nullptr);
    if (create && is_absent(status)) {
        win::DWORD disposition = 0;
        // A link planted at the name since the open is opened as itself,
        // never followed to create its target.
        status = win::RegCreateKeyExW(base, name.c_str(),
                                      win::REG_OPTION_NON_VOLATILE | win::REG_OPTION_OPEN_LINK,
                                      access, &opened, &disposition);
        key = RegistryKey(status == 0 ? opened : nullptr);
        // Someone else made it between our open and our create: what is
        // there now was not seen by whoever decided to create it.
        if (status == 0 && disposition != win::REG_CREATED_NEW_KEY)
            return fail("Launcher registry changed while a missing key was created.");
    }
    if (is_absent(status)) return std::optional<RegistryKey>();
    if (auto checked = check_status("key open", status); !checked)
        return std::unexpected(checked.error());
    return std::optional<RegistryKey>(std::move(key));
}

}  // namespace

Result<std::optional<RegistryKey>> open_scoped_key(RegistryScope scope, std::string_view sid,
                                                   std::string_view path, bool writable,
                                                   bool create) {
    if (auto components = checked_components(path); !components)
        return std::unexpected(components.error());
    if (scope == RegistryScope::Machine)
        return open_key_path(win::HKEY_LOCAL_MACHINE, path, writable, create);
    if (!is_valid_account_sid(sid)) return fail("Invalid player registry SID.");
    return open_key_path(win::HKEY_USERS, format_message("{}\\{}", sid, path), writable, create);
}

// The path is checked here as well: a caller's empty leaf would otherwise
// reopen the parent itself.
Result<std::optional<RegistryKey>> open_key_path(win::HKEY parent, std::string_view path,
                                                 bool writable, bool create) {
    const auto components = checked_components(path);
    if (!components) return std::unexpected(components.error());
    const win::REGSAM access =
        writable ? registry_internals::writable_access : registry_internals::read_access;

    RegistryKey current;  // empty while the base is the caller's parent
    for (const std::string_view component : *components) {
        const auto name = to_registry_name(component);
        if (!name) return std::unexpected(name.error());
        auto next = open_component(current ? current.get() : parent, *name, access, create);
        if (!next || !*next) return next;
        if (auto plain = ensure_not_a_link((*next)->get()); !plain)
            return std::unexpected(plain.error());
        current = std::move(**next);
    }
    return std::optional<RegistryKey>(std::move(current));
}

}  // namespace installer_helper
