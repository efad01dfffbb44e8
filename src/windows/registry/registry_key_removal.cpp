// Deleting one leaf key. The layer never deletes a tree: a key that has
// subkeys is refused before anything is deleted.
#include "windows/registry/registry.h"

#include "windows/registry/registry_internals.h"

namespace installer_helper {

using registry_internals::check_status;

Result<> remove_registry_key(RegistryScope scope, std::string_view sid, std::string_view path) {
    const std::size_t separator = path.rfind('\\');
    if (separator == std::string_view::npos) return fail("Invalid registry deletion path.");
    const std::string_view parent_path = path.substr(0, separator);
    const std::string_view leaf = path.substr(separator + 1);

    const auto parent = open_scoped_key(scope, sid, parent_path, true, false);
    if (!parent) return std::unexpected(parent.error());
    if (!*parent) return {};
    // The leaf is checked and deleted through one handle to the key itself,
    // so a link planted at its name in between is never followed.
    const auto leaf_key = open_key_path((*parent)->get(), leaf, false, false);
    if (!leaf_key) return std::unexpected(leaf_key.error());
    if (!*leaf_key) return {};
    if (auto no_subkeys = ensure_no_subkeys((*leaf_key)->get()); !no_subkeys) return no_subkeys;
    const win::LONG removed =
        win::RegDeleteKeyExW((*leaf_key)->get(), u"", win::KEY_WOW64_64KEY);
    // Deleted by someone else since it was opened: it is gone all the same.
    if (!registry_internals::is_absent(removed) && removed != win::ERROR_KEY_DELETED) {
        if (auto checked = check_status("key removal", removed); !checked) return checked;
    }
    // The removal must survive a power loss before the caller goes on.
    return check_status("removal flush", win::RegFlushKey((*parent)->get()));
}

}  // namespace installer_helper
