// The fault campaign: each Windows call that an action makes fails in turn
// with each error that call can plausibly return (access denied, a sharing
// violation, a full or write-protected disk, a device gone, a file or path
// not found, a registry key deleted under the helper). Besides what
// campaign.h checks after every run, clean reruns must end where reruns of
// an undisturbed run end: a failed call leaves nothing behind that a later
// run cannot finish or undo.
#include "campaign.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

using namespace campaign;

constexpr win::DWORD ERROR_WRITE_PROTECT = 19;

// Which errors each call the actions make can return.
const std::map<std::string_view, std::set<win::DWORD>>& plausible_errors() {
    using namespace win;
    static const std::map<std::string_view, std::set<DWORD>> errors{
        {"CreateFileW", {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                         ERROR_SHARING_VIOLATION, ERROR_DISK_FULL, ERROR_WRITE_PROTECT}},
        {"CreateDirectoryW", {ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_DISK_FULL,
                              ERROR_WRITE_PROTECT}},
        {"MoveFileExW", {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                         ERROR_SHARING_VIOLATION, ERROR_DISK_FULL, ERROR_WRITE_PROTECT}},
        {"SetFileInformationByHandle",
         {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_DISK_FULL, ERROR_WRITE_PROTECT}},
        {"WriteFile", {ERROR_DISK_FULL, ERROR_WRITE_PROTECT, ERROR_NOT_READY}},
        {"FlushFileBuffers", {ERROR_DISK_FULL, ERROR_WRITE_PROTECT, ERROR_NOT_READY}},
        {"ReadFile", {ERROR_NOT_READY}},
        {"FindFirstFileExW", {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED}},
        {"FindNextFileW", {ERROR_NOT_READY}},
        {"GetFileInformationByHandleEx", {ERROR_NOT_READY}},
        {"GetFileInformationByHandle", {ERROR_NOT_READY}},
        {"GetSecurityInfo", {ERROR_ACCESS_DENIED}},
        {"RegOpenKeyExW", {ERROR_ACCESS_DENIED}},
        {"RegCreateKeyExW", {ERROR_ACCESS_DENIED}},
        {"RegQueryValueExW", {ERROR_ACCESS_DENIED, ERROR_KEY_DELETED}},
        {"RegEnumValueW", {ERROR_KEY_DELETED}},
        {"RegQueryInfoKeyW", {ERROR_KEY_DELETED}},
        {"RegSetValueExW", {ERROR_ACCESS_DENIED, ERROR_KEY_DELETED}},
        {"RegDeleteValueW", {ERROR_ACCESS_DENIED, ERROR_KEY_DELETED}},
        {"RegDeleteKeyExW", {ERROR_ACCESS_DENIED}},
        {"RegFlushKey", {ERROR_ACCESS_DENIED, ERROR_KEY_DELETED}},
        {"OpenProcess", {ERROR_ACCESS_DENIED}},
        {"TerminateProcess", {ERROR_ACCESS_DENIED}},
        {"OpenProcessToken", {ERROR_ACCESS_DENIED}},
    };
    return errors;
}

// A failure with each error this call can return.
std::vector<Disturbance> failures_of(std::string_view function) {
    std::vector<Disturbance> failures;
    const auto errors = plausible_errors().find(function);
    if (errors == plausible_errors().end()) return failures;
    for (const win::DWORD code : errors->second)
        failures.push_back({"error " + std::to_string(code),
                            [code](sim::Machine& m, std::string_view name) {
                                m.faults.fail_nth(std::string(name), 1, code);
                                return true;
                            }});
    return failures;
}

void expect_no_violation(const Action& action) {
    const Figures figures = run(action, failures_of, true);
    report("faults", action, figures, "passed over");
    EXPECT_TRUE(figures.violations.empty());
}

TEST(FaultCampaign, Begin) { expect_no_violation(begin_action()); }
TEST(FaultCampaign, Commit) { expect_no_violation(commit_action()); }
TEST(FaultCampaign, Rollback) { expect_no_violation(rollback_action()); }
TEST(FaultCampaign, ContextFile) { expect_no_violation(context_file_action()); }
TEST(FaultCampaign, PrepareVerification) { expect_no_violation(prepare_verification_action()); }

}  // namespace
