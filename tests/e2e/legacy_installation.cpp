#include "legacy_installation.h"

#include "context_file.h"
#include "wine_session.h"

#include <cstdio>

namespace e2e {
namespace {

// The Electron runtime the migration removes: its files and its trees.
constexpr std::array<std::string_view, 24> electron_files = {
    "chrome_100_percent.pak", "chrome_200_percent.pak", "d3dcompiler_47.dll",
    "dxcompiler.dll", "dxil.dll", "ffmpeg.dll", "icudtl.dat", "libEGL.dll", "libGLESv2.dll",
    "resources.pak", "snapshot_blob.bin", "v8_context_snapshot.bin", "vk_swiftshader.dll",
    "vk_swiftshader_icd.json", "vulkan-1.dll", "LICENSE.electron.txt", "LICENSES.chromium.html",
    "resources/app.asar", "resources/app-update.yml", "resources/elevate.exe",
    "resources/QuillmoraClientServices.exe", "resources/app-icon.ico",
    "Uninstall Quillmora Launcher.exe", "uninstallerIcon.ico"};
constexpr std::array<std::string_view, 3> electron_trees = {
    "locales/", "resources/app.asar.unpacked/", "resources/native/"};

// A file and every directory above it.
void add_file(FileTree& tree, const std::string& path, std::string bytes) {
    for (std::size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        tree[path.substr(0, slash + 1)] = "";
    tree[path] = std::move(bytes);
}

std::string little_endian(std::uint64_t value, int bytes) {
    std::string data;
    for (int i = 0; i < bytes; ++i) data.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return data;
}

std::string in_user_hive(std::string_view path) {
    return std::string(wine_user_sid) + "\\" + std::string(path);
}

std::string json_string(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[7];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace

FileTree legacy_files() {
    FileTree tree;
    std::string launcher = "MZ Quillmora Launcher 1.8.2\n";
    for (int i = 0; launcher.size() < 20000; ++i) launcher.push_back(static_cast<char>(i * 7 % 251));
    add_file(tree, "Quillmora Launcher.exe", launcher);
    add_file(tree, "QuillmoraClientServices.exe", "MZ Quillmora Client Services 1.8.2\n");
    add_file(tree, "uninstall.exe", "MZ uninstall 1.8.2\n");
    for (const std::string_view file : electron_files)
        add_file(tree, std::string(file), "electron " + std::string(file) + "\n");
    for (const std::string_view file :
         {"locales/en-US.pak", "locales/de.pak", "resources/app.asar.unpacked/package.json",
          "resources/app.asar.unpacked/node_modules/sqlite3/package.json",
          "resources/app.asar.unpacked/node_modules/sqlite3/build/Release/node_sqlite3.node",
          "resources/native/win32/x64/quillmora_native.node"})
        add_file(tree, std::string(file), "electron " + std::string(file) + "\n");
    tree["resources/native/win32/ia32/"] = "";
    add_file(tree, "notes.txt", "the player's notes\n");
    add_file(tree, "resources/player-theme.css", "body { color: teal; }\n");
    add_file(tree, "Screenshots/2024-05-01.png", std::string("\x89PNG\r\n\x1a\n\0\0", 10));
    return tree;
}

FileTree without_electron_files(FileTree files) {
    for (const std::string_view file : electron_files) files.erase(std::string(file));
    std::erase_if(files, [](const auto& entry) {
        for (const std::string_view tree : electron_trees)
            if (entry.first.starts_with(tree)) return true;
        return false;
    });
    return files;
}

FileTree with_recovery(FileTree files, const std::string& journal) {
    const std::string directory = std::string(recovery_directory) + "/";
    files[directory] = "";
    files[directory + "journal.json"] = journal;
    for (const std::string_view binary : launcher_binaries)
        if (const auto found = files.find(std::string(binary)); found != files.end())
            files[directory + found->first] = found->second;
    return files;
}

std::vector<RegistryKey> launcher_registration(std::string_view directory) {
    const std::string location(directory);
    return {
        {std::string(launcher_key),
         true,
         {{"", 1, string_data(location)},
          {"Channel", 2, string_data("%LOCALAPPDATA%\\Quillmora\\stable")},
          {"Icon", 3, std::string("\x00\x01\x7f\x80\xfe\xff", 6)},
          {"Installed", 4, little_endian(1, 4)},
          {"Languages", 7, utf16le(std::string("en-US\0de-DE\0", 12), false) + std::string(2, '\0')},
          {"Timestamp", 11, little_endian(0x01DA8F3C5B2E4A10, 8)},
          {"Version", 1, string_data("1.8.2")}}},
        {std::string(launcher_uninstall_key),
         true,
         {{"DisplayName", 1, string_data("Quillmora Launcher")},
          {"DisplayVersion", 1, string_data("1.8.2")},
          {"EstimatedSize", 4, little_endian(187392, 4)},
          {"InstallLocation", 1, string_data(location)},
          {"UninstallString", 1, string_data("\"" + location + "\\uninstall.exe\"")}}},
    };
}

std::vector<RegistryKey> legacy_registration(std::string_view directory) {
    const std::string location(directory);
    return {
        {std::string(legacy_key), true, {{"InstallLocation", 1, string_data(location)}}},
        {std::string(legacy_uninstall_key),
         true,
         {{"DisplayName", 1, string_data("Quillmora Launcher (Electron)")},
          {"UninstallString", 1,
           string_data("\"" + location + "\\Uninstall Quillmora Launcher.exe\"")}}},
    };
}

std::vector<RegistryKey> absent(std::vector<RegistryKey> keys) {
    for (RegistryKey& key : keys) {
        key.exists = false;
        key.values.clear();
    }
    return keys;
}

std::vector<RegistryKey> operator+(std::vector<RegistryKey> first,
                                   const std::vector<RegistryKey>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::string registry_script(const std::vector<RegistryKey>& keys) {
    std::string script;
    for (const RegistryKey& key : keys) {
        const std::string path = in_user_hive(key.path);
        script += "delete-tree\tHKU\t" + path + "\n";
        if (!key.exists) continue;
        for (const RegistryValue& value : key.values)
            script += "set\tHKU\t" + path + "\t" + value.name + "\t" + std::to_string(value.type) +
                      "\t" + hex(value.data) + "\n";
    }
    return script;
}

std::string registry_dump_script(const std::vector<RegistryKey>& keys) {
    std::string script;
    for (const RegistryKey& key : keys) script += "dump\tHKU\t" + in_user_hive(key.path) + "\n";
    return script;
}

std::string registry_dump(const std::vector<RegistryKey>& keys) {
    std::string dump;
    for (const RegistryKey& key : keys) {
        const std::string path = in_user_hive(key.path);
        if (!key.exists) {
            dump += "no key " + path + "\n";
            continue;
        }
        dump += "key " + path + "\n";
        for (const RegistryValue& value : key.values)
            dump += "value \"" + value.name + "\" " + std::to_string(value.type) + " " +
                    hex(value.data) + "\n";
    }
    return dump;
}

std::string JournalDocument::json() const {
    std::string document = "{\"version\":3,\"directory\":" + json_string(directory) +
                           ",\"stage\":" + json_string(stage) + ",\"scope\":" +
                           json_string(scope) + ",\"sid\":" + json_string(sid) + ",\"binaries\":[";
    for (std::size_t i = 0; i < binaries.size(); ++i)
        document += (i == 0 ? "" : ",") + json_string(binaries[i]);
    document += "],\"registration\":[";
    for (std::size_t k = 0; k < registration.size(); ++k) {
        const RegistryKey& key = registration[k];
        document += std::string(k == 0 ? "" : ",") + "{\"key\":" + json_string(key.path) +
                    ",\"exists\":" + (key.exists ? "true" : "false") + ",\"values\":[";
        for (std::size_t v = 0; v < key.values.size(); ++v) {
            const RegistryValue& value = key.values[v];
            document += std::string(v == 0 ? "" : ",") + "{\"name\":" + json_string(value.name) +
                        ",\"kind\":" + std::to_string(value.type) + ",\"data\":[";
            for (std::size_t b = 0; b < value.data.size(); ++b)
                document += (b == 0 ? "" : ",") +
                            std::to_string(static_cast<unsigned char>(value.data[b]));
            document += "]}";
        }
        document += "]}";
    }
    return document + "]}";
}

}  // namespace e2e
