// What ships: one self-contained installer-helper.exe that imports only
// KERNEL32, ADVAPI32 and the C runtime and carries its manifest and version
// resource.
#include "wine_test.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

namespace e2e {
namespace {

using ExecutableTest = WineTest;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::set<std::string> imported_dlls() {
    const wine::HostRun dump =
        wine::run_host({E2E_OBJDUMP, "-p", E2E_HELPER_EXE},
                       std::filesystem::path(E2E_WORK_DIR) / "runs" / "objdump");
    EXPECT_EQ(dump.exit_code, 0) << dump.standard_error;
    std::set<std::string> names;
    std::istringstream lines(dump.standard_output);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find("DLL Name: ");
        if (at != std::string::npos) names.insert(lower(line.substr(at + 10)));
    }
    return names;
}

TEST_F(ExecutableTest, ImportsOnlyKernel32Advapi32AndTheCRuntime) {
    // Windows takes these three from System32 alone (they are known DLLs); a
    // DLL of any other imported name beside the executable would be loaded
    // before main. No C++, GCC or threading runtime DLL either.
    EXPECT_EQ(imported_dlls(),
              (std::set<std::string>{"kernel32.dll", "advapi32.dll", "msvcrt.dll"}));
}

TEST_F(ExecutableTest, CarriesItsManifestAndVersion) {
    const RunResult manifest = run_tool("ih-probe", {"manifest", wine::helper_path()});
    ASSERT_EQ(manifest.status, 0u) << manifest.standard_error;
    for (const char* part : {
             R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
             R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)",
             R"(<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>)"})
        EXPECT_NE(manifest.standard_output.find(part), std::string::npos) << part;

    const RunResult version = run_tool("ih-probe", {"version", wine::helper_path()});
    ASSERT_EQ(version.status, 0u) << version.standard_error;
    for (const char* line : {"ProductName=Quillmora Launcher\n", "FileVersion=1.0.0.0\n",
                             "OriginalFilename=installer-helper.exe\n"})
        EXPECT_NE(version.standard_output.find(line), std::string::npos) << line;
    EXPECT_NE(version.standard_output.find("FileDescription="), std::string::npos);
}

}  // namespace
}  // namespace e2e
