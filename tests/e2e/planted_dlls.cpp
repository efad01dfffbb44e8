#include "planted_dlls.h"

#include "host_files.h"
#include "wine_test.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

std::string in_folder(std::string_view folder, std::string_view name) {
    return std::string(folder) + "\\" + std::string(name);
}

}  // namespace

void plant_dlls(std::string_view folder, std::span<const std::string_view> names) {
    fs::create_directories(wine::unix_path(folder));
    for (const std::string_view name : names)
        fs::copy_file(fs::path(E2E_TOOLS_DIR) / "planted-dll.dll",
                      wine::unix_path(in_folder(folder, name)),
                      fs::copy_options::overwrite_existing);
}

std::string loaded_planted_dlls(std::string_view folder) {
    return read_host_file(wine::unix_path(in_folder(folder, "planted-dll-loads.txt")));
}

RunResult run_copy_in(WineTest& test, std::string_view folder, const fs::path& program,
                      const std::vector<std::string>& arguments, const RunOptions& options) {
    const std::string copy = in_folder(folder, program.filename().string());
    fs::copy_file(program, wine::unix_path(copy), fs::copy_options::skip_existing);
    return test.run_program(copy, build_command_line(copy, arguments), options);
}

}  // namespace e2e
