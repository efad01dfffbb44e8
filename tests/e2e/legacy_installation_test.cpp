#include "legacy_installation_test.h"

#include "context_file.h"
#include "host_files.h"

#include <filesystem>

namespace e2e {

namespace fs = std::filesystem;

void LegacyInstallationTest::SetUp() {
    WineTest::SetUp();
    write_context();
}

void LegacyInstallationTest::TearDown() { release(); }

void LegacyInstallationTest::TearDownTestSuite() {
    const fs::path stem = fs::path(E2E_WORK_DIR) / "runs" / "migration-registry-cleanup";
    write_host_file(stem.string() + ".script",
                    registry_script(absent(launcher_registration("") + legacy_registration(""))));
    const std::string tool = wine::tool_path("ih-reg");
    wine::run(tool,
              build_command_line(tool, {"script", wine::windows_path(stem.string() + ".script")}),
              {}, stem);
}

std::string LegacyInstallationTest::installed(std::string_view relative) const {
    return installation() + "\\" + std::string(relative);
}

void LegacyInstallationTest::write_context(std::string_view scope) {
    ContextFile context;
    context.directory = installation();
    context.scope = scope;
    write_file(context_file(), context.written());
}

std::vector<RegistryKey> LegacyInstallationTest::installed_registration() const {
    return launcher_registration(installation()) + legacy_registration(installation());
}

void LegacyInstallationTest::install() {
    lay_out(legacy_files());
    seed(installed_registration());
}

void LegacyInstallationTest::lay_out(const FileTree& files) const {
    for (const auto& [path, bytes] : files) {
        if (path.ends_with('/')) make_directory(installed(path));
        else write_file(installed(path), bytes);
    }
}

FileTree LegacyInstallationTest::files_now() const {
    FileTree files;
    const fs::path root = wine::unix_path(installation());
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = entry.path().lexically_relative(root).generic_string();
        if (entry.is_directory()) files[path + "/"] = "";
        else files[path] = read_host_file(entry.path());
    }
    return files;
}

std::string LegacyInstallationTest::registry(const std::string& script) {
    const fs::path file = next_work_stem().string() + ".script";
    write_host_file(file, script);
    const RunResult result = run_tool("ih-reg", {"script", wine::windows_path(file)});
    EXPECT_EQ(result.status, 0u) << result.standard_error;
    return result.standard_output;
}

void LegacyInstallationTest::seed(const std::vector<RegistryKey>& keys) {
    registry(registry_script(keys));
}

std::string LegacyInstallationTest::registry_now() {
    return registry(registry_dump_script(installed_registration()));
}

std::vector<std::string> LegacyInstallationTest::action_arguments(std::string_view action) const {
    return {"-Action", std::string(action), "-Output", context_file(), "-Directory",
            installation()};
}

void LegacyInstallationTest::hold(std::string_view relative) {
    ASSERT_EQ(run_tool("dummy-launcher", {"hold", scratch_path("holder"), installed(relative)}),
              (RunResult{0, "", ""}));
    holder_ = read_file(scratch_path("holder"));
    while (!holder_.empty() && holder_.back() == '\n') holder_.pop_back();
}

void LegacyInstallationTest::release() {
    if (holder_.empty()) return;
    EXPECT_EQ(run_tool("dummy-launcher", {"end", holder_}), (RunResult{0, "", ""}));
    holder_.clear();
}

}  // namespace e2e
