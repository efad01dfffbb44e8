// An older, Electron-based launcher installation for the migration's
// end-to-end tests: its files, its registration in the Wine user's hive, and
// recovery journals written the way the helper writes them, so a test can lay
// out any state a transaction passes through and compare what it finds after.
#pragma once

#include "context_file.h"
#include "wine_session.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

inline constexpr std::string_view launcher_key = "Software\\Quillmora\\Quillmora Launcher";
inline constexpr std::string_view launcher_uninstall_key =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmora Launcher";
inline constexpr std::string_view legacy_key = "Software\\3b9e2c41-7d05-5a18-9c6e-d41f80a2b7c3";
inline constexpr std::string_view legacy_uninstall_key =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\3b9e2c41-7d05-5a18-9c6e-d41f80a2b7c3";

inline constexpr std::string_view recovery_directory = ".quillmora-migration";
inline constexpr std::array<std::string_view, 3> launcher_binaries = {
    "Quillmora Launcher.exe", "QuillmoraClientServices.exe", "uninstall.exe"};

// ---- Files ----

// Relative paths with "/" to their bytes; a directory is its path with a
// trailing "/" and no bytes.
using FileTree = std::map<std::string, std::string>;

// The whole older installation: the three binaries (the launcher's larger
// than one 8 KiB copy buffer), the 24 Electron files, the three Electron
// trees a few levels deep, and the player's own files beside them.
FileTree legacy_files();

// What a finished commit leaves of `files`: everything but the Electron files
// and trees (binaries, the player's files and the directories holding them).
FileTree without_electron_files(FileTree files);

// `files` with a prepared transaction in the recovery directory: the journal
// and a backup copy of each binary present.
FileTree with_recovery(FileTree files, const std::string& journal);

// ---- Registry ----

struct RegistryValue {
    std::string name;
    std::uint32_t type = 0;
    std::string data;  // raw bytes
};
// A key and its values in enumeration order; an absent key has none.
struct RegistryKey {
    std::string path;  // below the Wine user's hive
    bool exists = true;
    std::vector<RegistryValue> values;
};

// The launcher's two keys as the older installation left them, with values
// of every accepted type. Names are in the order Wine enumerates them (it
// keeps values sorted), which is also the order they are written in.
std::vector<RegistryKey> launcher_registration(std::string_view directory);
// The older installation's GUID-named keys, pointing at `directory`.
std::vector<RegistryKey> legacy_registration(std::string_view directory);
// The same keys, absent.
std::vector<RegistryKey> absent(std::vector<RegistryKey> keys);
// The keys of `first`, then those of `second`.
std::vector<RegistryKey> operator+(std::vector<RegistryKey> first,
                                   const std::vector<RegistryKey>& second);

// ih-reg script lines that make each key exactly as given (a present key
// needs a value: ih-reg creates keys only by writing a value).
std::string registry_script(const std::vector<RegistryKey>& keys);
// ih-reg script lines that list each key, and what they print for `keys`.
std::string registry_dump_script(const std::vector<RegistryKey>& keys);
std::string registry_dump(const std::vector<RegistryKey>& keys);

// ---- Recovery journal ----

// The fields of a journal; json() is the compact document the helper writes.
struct JournalDocument {
    std::string directory;
    std::string stage;
    std::string scope = "user";
    std::string sid = std::string(wine_user_sid);
    std::vector<std::string> binaries;
    std::vector<RegistryKey> registration;
    std::string json() const;
};

}  // namespace e2e
