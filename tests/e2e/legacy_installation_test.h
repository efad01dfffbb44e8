// The fixture of end-to-end tests on an older installation: its directory in
// the test's scratch directory, a context file naming it, the files and the
// registration laid out on demand, and the registration keys removed after
// the suite.
#pragma once

#include "legacy_installation.h"
#include "wine_test.h"

#include <string>
#include <string_view>
#include <vector>

namespace e2e {

class LegacyInstallationTest : public WineTest {
protected:
    // Writes a user-scope context file for installation().
    void SetUp() override;
    // Releases a held file.
    void TearDown() override;
    // The keys stay out of later suites' way.
    static void TearDownTestSuite();

    std::string installation() const { return scratch_path("Quillmora Launcher"); }
    std::string installed(std::string_view relative) const;
    std::string context_file() const { return scratch_path("context.ini"); }

    void write_context(std::string_view scope = "user");

    // The installation as the older launcher left it, files and registration.
    std::vector<RegistryKey> installed_registration() const;
    void install();
    void lay_out(const FileTree& files) const;
    FileTree files_now() const;

    // ih-reg with a script of commands, one start for all of them.
    std::string registry(const std::string& script);
    void seed(const std::vector<RegistryKey>& keys);
    // The four keys the migration may touch, as ih-reg lists them.
    std::string registry_now();

    // The helper's arguments for an action on installation() with the
    // context file ("context" captures it).
    std::vector<std::string> action_arguments(std::string_view action) const;

    // A process that keeps an installed file open without delete sharing,
    // until release() (or the end of the test).
    void hold(std::string_view relative);
    void release();

private:
    std::string holder_;  // the holding process's id
};

}  // namespace e2e
