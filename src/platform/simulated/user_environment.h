// The desktop session of the simulated machine: the shell window, the
// environment that each account's profile gives, and the helper's own
// temporary directory.
#pragma once

#include "platform/win_api.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using win::DWORD;

class UserEnvironment {
public:
    // GetShellWindow answers a window only when there is one; the window
    // belongs to `shell_process_id`, created by thread `shell_thread_id`
    // (0: GetWindowThreadProcessId finds no thread).
    bool shell_window = false;
    DWORD shell_thread_id = 1;
    DWORD shell_process_id = 0;

    // What CreateEnvironmentBlock gives a token of each account (by SID):
    // the raw UTF-16 entries, each without its terminator, in block order.
    // An account without an entry has no profile (ERROR_FILE_NOT_FOUND).
    std::map<std::string, std::vector<std::u16string>> profiles;

    // The helper's own temporary directory, as GetTempPathW and
    // GetTempPath2W report it; `has_temp_path2` false models an older system.
    std::u16string temp_path = u"C:\\Users\\player\\AppData\\Local\\Temp\\";
    bool has_temp_path2 = true;

    // The helper's own environment variables, as GetEnvironmentVariableW
    // sees them; names match ignoring case.
    void set_variable(std::u16string_view name, std::u16string value);
    void unset_variable(std::u16string_view name);
    const std::u16string* variable(std::u16string_view name) const;

    // --- used by the seam functions ---
    // Environment blocks come from their own heap: only
    // DestroyEnvironmentBlock releases them, so LocalFree on one is a leak.
    void* create_block(const std::vector<std::u16string>& entries);
    bool destroy_block(void* block);
    std::size_t outstanding_blocks() const { return blocks_.size(); }
    void forget_blocks() { blocks_.clear(); }

private:
    std::map<void*, std::unique_ptr<char16_t[]>> blocks_;
    std::map<std::u16string, std::u16string> variables_;  // keyed by upper-case name
};

}  // namespace sim
