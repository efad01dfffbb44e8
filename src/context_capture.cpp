#include "context_capture.h"

#include "installer_context.h"
#include "message_format.h"
#include "text_encoding.h"
#include "windows/followed_path.h"
#include "windows/installation_path.h"
#include "windows/installation_probe.h"
#include "windows/process_environment.h"
#include "windows/registry/registration.h"
#include "windows/registry/registry.h"
#include "windows/reparse_points.h"
#include "windows/user_environment.h"

#include <array>
#include <utility>

namespace installer_helper {
namespace {

constexpr std::string_view shell_folders_key =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr std::string_view launcher_location_value = "";  // the key's default value
constexpr std::string_view default_directory_template = "{}\\Quillmora\\Launcher";
constexpr std::array<std::string_view, 2> program_files_variables = {"ProgramW6432",
                                                                     "ProgramFiles(x86)"};
constexpr std::string_view launcher_executable = "Quillmora Launcher.exe";
constexpr std::string_view legacy_archive = "resources\\app.asar";
constexpr std::string_view recovery_directory = ".quillmora-migration";
constexpr std::string_view occupied_subdirectory = "Quillmora Launcher";

constexpr std::string_view folders_unavailable = "Original user folders are unavailable.";

Result<FollowedKind> kind_in(std::string_view directory, std::string_view name) {
    return followed_kind(join_path(directory, name));
}

// An existing directory that holds something other than a launcher gives
// way to its "Quillmora Launcher" subdirectory, if that is missing or empty.
Result<std::string> choose_unoccupied(std::string directory) {
    const auto kind = followed_kind(directory);
    if (!kind) return std::unexpected(kind.error());
    if (*kind != FollowedKind::Directory) return directory;
    for (const std::string_view marker : {launcher_executable, legacy_archive}) {
        const auto found = kind_in(directory, marker);
        if (!found) return std::unexpected(found.error());
        if (*found != FollowedKind::Missing) return directory;
    }
    const auto occupied = directory_has_entries(directory);
    if (!occupied) return std::unexpected(occupied.error());
    if (!*occupied) return directory;

    auto subdirectory = normalize_installation_path(join_path(directory, occupied_subdirectory));
    if (!subdirectory) return std::unexpected(subdirectory.error());
    if (auto checked = ensure_no_reparse_points(*subdirectory); !checked)
        return std::unexpected(checked.error());
    const auto sub_kind = followed_kind(*subdirectory);
    if (!sub_kind) return std::unexpected(sub_kind.error());
    if (*sub_kind == FollowedKind::Missing) return std::move(*subdirectory);
    const auto sub_occupied = directory_has_entries(*subdirectory);
    if (!sub_occupied) return std::unexpected(sub_occupied.error());
    if (!*sub_occupied) return std::move(*subdirectory);
    return fail("The selected directory contains unrelated files. Select an empty installation "
                "directory.");
}

// An archive of the older kind, or a migration under way, marks a legacy
// installation; it must still hold its launcher unless it is being removed.
Result<bool> decide_legacy(std::string_view directory, bool uninstall) {
    const auto archive = kind_in(directory, legacy_archive);
    if (!archive) return std::unexpected(archive.error());
    bool legacy = *archive == FollowedKind::File;
    if (!legacy) {
        const auto recovery = kind_in(directory, recovery_directory);
        if (!recovery) return std::unexpected(recovery.error());
        legacy = *recovery == FollowedKind::Directory;
    }
    if (legacy && !uninstall) {
        const auto launcher = kind_in(directory, launcher_executable);
        if (!launcher) return std::unexpected(launcher.error());
        if (*launcher != FollowedKind::File)
            return fail("The legacy installation is incomplete; repair it before migrating.");
    }
    return legacy;
}

std::vector<std::string> program_files_directories() {
    std::vector<std::string> directories;
    for (const std::string_view variable : program_files_variables)
        if (auto value = environment_variable(variable)) directories.push_back(std::move(*value));
    return directories;
}

bool same_as(std::string_view directory, const std::optional<std::string>& registered) {
    return registered && same_installation_path(directory, *registered);
}

// Each ancestor of a normalised path, from its parent up to the drive root.
std::vector<std::string_view> ancestors(std::string_view path) {
    std::vector<std::string_view> result;
    for (std::size_t end = path.find_last_of('\\'); end != std::string_view::npos && end > 2;
         end = path.find_last_of('\\', end - 1))
        result.push_back(path.substr(0, end));
    result.push_back(path.substr(0, 3));
    return result;
}

}  // namespace

Result<std::string> read_shell_folder(RegistryScope scope, std::string_view sid,
                                      std::string_view name) {
    auto folder = read_registry_string(scope, sid, shell_folders_key, name);
    if (!folder) return std::unexpected(folder.error());
    if (!*folder || (*folder)->empty() || !is_absolute_installer_path(**folder))
        return fail(std::string(folders_unavailable));
    return std::move(**folder);
}

Result<std::optional<std::string>> read_registered_directory(RegistryScope scope,
                                                             std::string_view sid,
                                                             std::string_view key,
                                                             std::string_view name) {
    const auto text = read_registry_string(scope, sid, key, name);
    if (!text) return std::unexpected(text.error());
    if (!*text || (*text)->empty()) return std::optional<std::string>();
    auto normalised = normalize_installation_path(**text);
    if (!normalised) return std::unexpected(normalised.error());
    return std::optional<std::string>(std::move(*normalised));
}

std::string default_installation_directory() {
    const auto drive = environment_variable("SystemDrive");
    const std::string text =
        drive ? utf8_from_utf16_lossy(utf16_from_wtf8(*drive)) : std::string("C:");
    return format_message(default_directory_template, text);
}

RegistryScope decide_registry_scope(std::string_view directory, const Registrations& user,
                                    const Registrations& machine,
                                    const std::vector<std::string>& program_files) {
    if (same_as(directory, machine.location) || same_as(directory, machine.launcher))
        return RegistryScope::Machine;
    if (same_as(directory, user.location) || same_as(directory, user.launcher))
        return RegistryScope::User;
    for (const std::string& program_directory : program_files) {
        if (same_installation_path(directory, program_directory)) return RegistryScope::Machine;
        for (const std::string_view ancestor : ancestors(directory))
            if (same_installation_path(ancestor, program_directory)) return RegistryScope::Machine;
    }
    return RegistryScope::User;
}

Result<> capture_installer_context(const CaptureRequest& request) {
    const auto user = resolve_original_user(request.expected_sid, request.expected_temp);
    if (!user) return std::unexpected(user.error());

    InstallerContext context;
    context.sid = user->sid;
    context.temp = user->temp;
    for (auto [field, name] : {std::pair{&context.local, "Local AppData"},
                               std::pair{&context.roaming, "AppData"},
                               std::pair{&context.desktop, "Desktop"},
                               std::pair{&context.programs, "Programs"}}) {
        auto folder = read_shell_folder(RegistryScope::User, context.sid, name);
        if (!folder) return std::unexpected(folder.error());
        *field = std::move(*folder);
    }

    Registrations user_registrations;
    Registrations machine_registrations;
    const std::string legacy_key = legacy_registration_key();
    const struct {
        RegistryScope scope;
        std::optional<std::string>* into;
        std::string_view key;
        std::string_view value;
    } registrations[] = {
        {RegistryScope::User, &user_registrations.location, legacy_key, LEGACY_LOCATION_VALUE},
        {RegistryScope::Machine, &machine_registrations.location, legacy_key, LEGACY_LOCATION_VALUE},
        {RegistryScope::User, &user_registrations.launcher, REGISTRATION_KEYS[0],
         launcher_location_value},
        {RegistryScope::Machine, &machine_registrations.launcher, REGISTRATION_KEYS[0],
         launcher_location_value},
    };
    for (const auto& registration : registrations) {
        auto read = read_registered_directory(registration.scope, context.sid, registration.key,
                                              registration.value);
        if (!read) return std::unexpected(read.error());
        *registration.into = std::move(*read);
    }

    // A given directory wins; then the registrations, per user first.
    const std::string choice =
        request.directory                ? *request.directory
        : user_registrations.launcher    ? *user_registrations.launcher
        : user_registrations.location    ? *user_registrations.location
        : machine_registrations.launcher ? *machine_registrations.launcher
        : machine_registrations.location ? *machine_registrations.location
                                         : default_installation_directory();
    auto directory = normalize_installation_path(choice);
    if (!directory) return std::unexpected(directory.error());
    if (auto checked = ensure_no_reparse_points(*directory); !checked)
        return std::unexpected(checked.error());
    if (!request.uninstall) {
        auto unoccupied = choose_unoccupied(std::move(*directory));
        if (!unoccupied) return std::unexpected(unoccupied.error());
        directory = std::move(unoccupied);
    }
    context.directory = std::move(*directory);

    context.scope = decide_registry_scope(context.directory, user_registrations,
                                          machine_registrations, program_files_directories());
    if (context.scope == RegistryScope::Machine) {
        for (auto [field, name] : {std::pair{&context.desktop, "Common Desktop"},
                                   std::pair{&context.programs, "Common Programs"}}) {
            auto folder = read_shell_folder(RegistryScope::Machine, context.sid, name);
            if (!folder) return std::unexpected(folder.error());
            *field = std::move(*folder);
        }
    }

    const auto legacy = decide_legacy(context.directory, request.uninstall);
    if (!legacy) return std::unexpected(legacy.error());
    context.legacy = *legacy;

    const auto elevate = installation_requires_elevation(
        context.directory, context.scope == RegistryScope::Machine, request.uninstall);
    if (!elevate) return std::unexpected(elevate.error());
    context.elevate = *elevate;

    return write_installer_context(request.output, context);
}

}  // namespace installer_helper
