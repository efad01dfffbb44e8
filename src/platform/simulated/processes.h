// The process table of the simulated machine: what a toolhelp snapshot
// lists, what OpenProcess may open, and how processes end.
#pragma once

#include "platform/simulated/clock.h"
#include "platform/win_api.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using win::DWORD;

struct Process {
    DWORD pid = 0;              // 0 when started: the next free id
    std::u16string exe_name;    // the snapshot's name; empty when started: the image's file name
    std::u16string image_path;  // what QueryFullProcessImageNameW answers
    std::string user_sid;       // empty: the helper's own account
    bool elevated = false;
    DWORD parent_pid = 0;

    // Behaviour.
    DWORD denied_access = 0;    // rights that OpenProcess refuses with ERROR_ACCESS_DENIED
    DWORD terminate_error = 0;  // TerminateProcess fails with it while the process runs
    static constexpr std::uint64_t never = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t exit_delay_ms = 0;  // from termination to exit; `never` ignores termination
    bool restarts = false;            // something starts it again (under a new id) once ended

    // State.
    std::optional<std::uint64_t> exit_time;  // when it ends or ended, once known
    DWORD exit_code = 259;                   // STILL_ACTIVE
    bool terminated = false;
    bool held_elsewhere = false;  // another program keeps a handle: it stays listed once ended
    int handles = 0;              // the helper's open handles on it

    bool has_exited(std::uint64_t now) const { return exit_time && *exit_time <= now; }
};

using ProcessPtr = std::shared_ptr<Process>;

class Processes {
public:
    explicit Processes(const Clock& clock);

    // --- scenario set-up and checks ---
    // Adds a running process at the end of the table; the pid must be free.
    Process& start(Process process);
    // A running process of the helper's own account, named after its image.
    Process& start(std::string_view image_path);
    // The process has ended; another program still holds it, so it stays
    // listed (its handle is signalled).
    void exit(DWORD pid, DWORD exit_code = 0);
    // The process is gone from the table; its id may be used again.
    void remove(DWORD pid);
    // The running or still-held process with this id, or null.
    Process* find(DWORD pid);
    bool running(DWORD pid);
    std::uint64_t now() const { return clock_.milliseconds; }
    // Every successful termination, in order.
    struct Termination {
        DWORD pid;
        std::u16string image_path;
        DWORD exit_code;
    };
    const std::vector<Termination>& terminations() const { return terminations_; }
    // --- used by the seam functions ---
    // Listed processes in table order; ended processes nobody holds are dropped.
    std::vector<ProcessPtr> listed();
    ProcessPtr lookup(DWORD pid);
    // Ends the process as TerminateProcess does, once it may.
    void terminate(const ProcessPtr& process, DWORD exit_code);

private:
    const Clock& clock_;
    std::vector<ProcessPtr> table_;
    DWORD next_pid_ = 1000;
    std::vector<Termination> terminations_;
    void drop_ended();
};

}  // namespace sim
