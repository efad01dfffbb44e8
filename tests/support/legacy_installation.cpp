#include "legacy_installation.h"

#include "engine/owned_paths.h"
#include "windows/registry/registry_value.h"

namespace {

void add_registration(sim::Machine& machine, std::string_view key) {
    const std::string path = player_key(key);
    machine.registry.set_value(HKU, path, "", installer_helper::REG_SZ,
                               string_bytes("C:\\Games\\Quillmora"));
    machine.registry.set_value(HKU, path, "DisplayVersion", installer_helper::REG_EXPAND_SZ,
                               string_bytes("%ProgramFiles%\\1.2.3"));
    machine.registry.set_value(HKU, path, "Icon", installer_helper::REG_BINARY, {0, 1, 2, 255});
    machine.registry.set_value(HKU, path, "NoModify", installer_helper::REG_DWORD, dword_bytes(1));
    sim::Bytes multi = utf16_units("a");
    multi.insert(multi.end(), {0, 0});
    const sim::Bytes second = utf16_units("b");
    multi.insert(multi.end(), second.begin(), second.end());
    multi.insert(multi.end(), {0, 0, 0, 0});
    machine.registry.set_value(HKU, path, "Channels", installer_helper::REG_MULTI_SZ, multi);
    machine.registry.set_value(HKU, path, "Installed", installer_helper::REG_QWORD,
                               {1, 2, 3, 4, 5, 6, 7, 8});
}

void add_state_of_key(sim::Machine& machine, std::string_view key, MachineState& state) {
    const std::string path = player_key(key);
    if (!machine.registry.exists(HKU, path)) return;
    state["registry " + path] = "<key>";
    for (const std::string& name : machine.registry.value_names(HKU, path)) {
        const sim::KeyValue* value = machine.registry.value(HKU, path, name);
        state["registry " + path + " : " + name] =
            std::to_string(value->type) + " " + std::string(value->data.begin(), value->data.end());
    }
}

void add_state_of_files(sim::Machine& machine, const std::string& path, MachineState& state) {
    sim::Node* node = machine.files.find(path);
    if (node == nullptr) return;
    if (!node->is_directory()) {
        state[path] = machine.files.contents(path);
        return;
    }
    state[path] = "<dir>";
    for (const std::string& name : machine.files.list(path))
        add_state_of_files(machine, path + "\\" + name, state);
}

}  // namespace

bool is_owned(const std::string& path) {
    const std::string prefix = std::string(legacy_directory) + "\\";
    if (!path.starts_with(prefix)) return false;
    std::string relative = path.substr(prefix.size());
    std::replace(relative.begin(), relative.end(), '\\', '/');
    for (const std::string_view file : installer_helper::OWNED_FILES)
        if (relative == file) return true;
    for (const std::string_view tree : installer_helper::OWNED_DIRECTORIES)
        if (relative == tree || relative.starts_with(std::string(tree) + "/")) return true;
    return false;
}

namespace {
bool is_entry_of_key(const std::string& entry, std::string_view key) {
    const std::string prefix = "registry " + player_key(key);
    return entry == prefix || entry.starts_with(prefix + " : ");
}
}  // namespace

bool is_legacy_registration(const std::string& entry) {
    return is_entry_of_key(entry, legacy_registration) ||
           is_entry_of_key(entry, legacy_uninstall_registration);
}

bool is_launcher_registration(const std::string& entry) {
    return is_entry_of_key(entry, launcher_registration) ||
           is_entry_of_key(entry, uninstall_registration);
}

std::string player_key(std::string_view key) {
    return std::string(player_sid) + "\\" + std::string(key);
}

installer_helper::InstallerContext legacy_context() {
    return {.sid = std::string(player_sid),
            .temp = "C:\\Users\\player\\AppData\\Local\\Temp",
            .desktop = "C:\\Users\\player\\Desktop",
            .programs = "C:\\Users\\player\\Start Menu\\Programs",
            .local = "C:\\Users\\player\\AppData\\Local",
            .roaming = "C:\\Users\\player\\AppData\\Roaming",
            .directory = std::string(legacy_directory),
            .scope = installer_helper::RegistryScope::User,
            .legacy = true,
            .elevate = false};
}

void install_legacy(sim::Machine& machine) {
    machine.accounts.user_sid = std::string(player_sid);
    const std::string directory(legacy_directory);
    for (const std::string_view binary : installer_helper::LAUNCHER_BINARIES)
        machine.files.add_file(directory + "\\" + std::string(binary), "old " + std::string(binary));
    for (const std::string_view owned : installer_helper::OWNED_FILES) {
        std::string relative(owned);
        std::replace(relative.begin(), relative.end(), '/', '\\');
        machine.files.add_file(directory + "\\" + relative, "owned " + relative);
    }
    for (const std::string_view tree : installer_helper::OWNED_DIRECTORIES) {
        std::string relative(tree);
        std::replace(relative.begin(), relative.end(), '/', '\\');
        const std::string root = directory + "\\" + relative;
        machine.files.add_file(root + "\\a.dat", "a");
        machine.files.add_file(root + "\\sub\\b.dat", "b");
        machine.files.add_file(root + "\\sub\\deeper\\c.dat", "c");
        machine.files.add_directory(root + "\\empty");
    }
    machine.files.add_file(directory + "\\saves\\slot1.sav", "the player's");
    machine.files.add_file(directory + "\\resources\\custom.cfg", "the player's too");
    machine.files.add_file("C:\\Games\\beside.txt", "not the launcher's");
    add_registration(machine, launcher_registration);
    add_registration(machine, uninstall_registration);
    machine.registry.set_value(HKU, player_key(legacy_registration), "InstallLocation",
                               installer_helper::REG_SZ, string_bytes("c:\\games\\quillmora\\"));
    machine.registry.set_value(HKU, player_key(legacy_uninstall_registration), "DisplayName",
                               installer_helper::REG_SZ, string_bytes("Quillmora (old)"));
}

MachineState state_of(sim::Machine& machine) {
    MachineState state;
    add_state_of_files(machine, "C:\\Games", state);
    for (const std::string_view key : {launcher_registration, uninstall_registration,
                                       legacy_registration, legacy_uninstall_registration})
        add_state_of_key(machine, key, state);
    return state;
}
