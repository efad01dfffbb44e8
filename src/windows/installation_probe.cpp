#include "windows/installation_probe.h"

#include "message_format.h"
#include "platform/win_api.h"
#include "windows/account.h"
#include "windows/file_io.h"
#include "windows/followed_path.h"
#include "windows/handles.h"
#include "windows/installation_path.h"
#include "windows/process/stop.h"
#include "windows/random_uuid.h"
#include "windows/registry/registry.h"
#include "windows/reparse_points.h"
#include "windows/system_error.h"

#include <optional>

namespace installer_helper {
namespace {

constexpr std::string_view probe_directory_template = ".quillmora-write-test-{}";
constexpr std::string_view probe_file_name = "test";
constexpr std::string_view runtime_key = "SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64";
constexpr std::string_view runtime_value = "Installed";

HelperError probe_failure(win::DWORD error) {
    return HelperError(format_message("Could not test installation directory access: {}",
                                      system_error_text(error)));
}
HelperError removal_failure(win::DWORD error) {
    return HelperError(
        format_message("Could not remove setup's access probe: {}", system_error_text(error)));
}

// A normalised path's parent, or nothing for a drive root ("C:\").
std::optional<std::string> parent_directory(std::string_view path) {
    if (path.size() <= 3) return std::nullopt;
    const std::size_t separator = path.find_last_of('\\');
    return std::string(path.substr(0, separator < 3 ? 3 : separator));
}

Result<std::string> nearest_existing_directory(std::string_view directory) {
    std::optional<std::string> current{std::string(directory)};
    while (current) {
        const auto kind = followed_kind(*current);
        if (!kind) return std::unexpected(kind.error());
        if (*kind == FollowedKind::Directory) return *current;
        current = parent_directory(*current);
    }
    return fail("The installation parent directory is unavailable.");
}

// Creates a fresh directory with an empty file inside and removes both.
// Answers whether the directory refused either with access denied.
Result<bool> access_probe_denied(std::string_view directory) {
    const auto name = random_uuid_simple();
    if (!name) return std::unexpected(name.error());
    const std::string probe = join_path(directory, format_message(probe_directory_template, *name));
    const auto wide_probe = to_wide_nul(probe);
    if (!wide_probe) return std::unexpected(wide_probe.error());

    if (!win::CreateDirectoryW(wide_probe->c_str(), nullptr)) {
        const win::DWORD error = win::GetLastError();
        if (error == win::ERROR_ACCESS_DENIED) return true;
        return std::unexpected(probe_failure(error));
    }

    const std::string file = join_path(probe, probe_file_name);
    const auto wide_file = to_wide_nul(file);
    if (!wide_file) return std::unexpected(wide_file.error());
    const IoResult<> written = write_whole_file(file, "");

    // Whatever happens from here, the probe is taken down again: only a
    // failed removal may leave it behind.
    const auto file_kind = inspect_path(file);
    if (!file_kind || *file_kind != PathKind::Missing) {
        if (!win::DeleteFileW(wide_file->c_str()) && file_kind)
            return std::unexpected(removal_failure(win::GetLastError()));
    }
    if (!win::RemoveDirectoryW(wide_probe->c_str()))
        return std::unexpected(removal_failure(win::GetLastError()));
    if (!file_kind) return std::unexpected(file_kind.error());

    if (written) return false;
    if (written.error().code == win::ERROR_ACCESS_DENIED) return true;
    return fail(format_message("Could not test installation directory access: {}",
                               written.error().text()));
}

Result<bool> runtime_missing() {
    const auto installed = read_registry_dword(runtime_key, runtime_value);
    if (!installed) return std::unexpected(installed.error());
    return *installed != std::optional<std::uint32_t>(1);
}

}  // namespace

Result<bool> installation_requires_elevation(std::string_view directory, bool machine_scope,
                                             bool skip_runtime_check) {
    const auto elevated = is_process_elevated();
    if (!elevated) return std::unexpected(elevated.error());
    if (*elevated) return false;
    if (machine_scope) return true;

    const auto nearest = nearest_existing_directory(directory);
    if (!nearest) return std::unexpected(nearest.error());
    if (auto checked = ensure_no_reparse_points(*nearest); !checked)
        return std::unexpected(checked.error());
    const auto denied = access_probe_denied(*nearest);
    if (!denied) return std::unexpected(denied.error());
    if (*denied) return true;

    if (!skip_runtime_check) {
        const auto missing = runtime_missing();
        if (!missing) return std::unexpected(missing.error());
        if (*missing) return true;
    }
    return stop_requires_elevation(directory);
}

Result<bool> directory_has_entries(std::string_view directory) {
    const auto pattern = to_wide_nul(join_path(directory, "*"));
    if (!pattern) return std::unexpected(pattern.error());
    win::WIN32_FIND_DATAW entry;
    const FindHandle search(win::FindFirstFileExW(pattern->c_str(), win::FindExInfoBasic, &entry,
                                                  win::FindExSearchNameMatch, 0));
    if (!search) {
        const win::DWORD error = win::GetLastError();
        // A drive root has no "." entry: an empty one finds nothing at all.
        if (error == win::ERROR_FILE_NOT_FOUND) return false;
        return std::unexpected(directory_inspection_error(error));
    }
    while (true) {
        const std::u16string_view name(entry.cFileName);
        if (name != u"." && name != u"..") return true;
        if (!win::FindNextFileW(search.get(), &entry)) {
            const win::DWORD error = win::GetLastError();
            if (error == win::ERROR_NO_MORE_FILES) return false;
            return std::unexpected(directory_inspection_error(error));
        }
    }
}

}  // namespace installer_helper
