// An installation directory on the simulated machine and the migration
// target that opens it, for the migration engine's tests.
#pragma once

#include "engine/owned_paths.h"
#include "installer_context.h"
#include "simulated_test.h"

#include <string>
#include <string_view>

inline constexpr std::string_view migration_directory = "C:\\Games\\Quillmora";
inline constexpr std::string_view migration_sid = "S-1-5-21-1111-2222-3333-1001";

inline installer_helper::InstallerContext migration_context(
    std::string_view directory = migration_directory, std::string_view sid = migration_sid) {
    installer_helper::InstallerContext context;
    context.sid = sid;
    context.directory = directory;
    return context;
}

// The full path of a relative owned name: "resources/app.asar" becomes
// "C:\Games\Quillmora\resources\app.asar".
inline std::string installed(std::string_view relative) {
    std::string path = std::string(migration_directory) + "\\" + std::string(relative);
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// "ok", or the error's message.
template <typename T>
std::string outcome_of(const installer_helper::Result<T>& result) {
    return result ? "ok" : result.error().message();
}

class MigrationTest : public SimulatedTest {
protected:
    MigrationTest() { machine.files.add_directory(migration_directory); }

    installer_helper::MigrationTarget target() {
        return installer_helper::open_migration_target(migration_directory, migration_context())
            .value();
    }
};
