#include "platform/simulated/processes.h"

#include "text_encoding.h"

#include <algorithm>
#include <stdexcept>

namespace sim {
namespace {

std::u16string file_name_of(std::u16string_view path) {
    const std::size_t separator = path.find_last_of(u"\\/");
    return std::u16string(separator == std::u16string_view::npos ? path
                                                                : path.substr(separator + 1));
}

}  // namespace

Processes::Processes(const Clock& clock) : clock_(clock) {
    // Every Windows snapshot starts with these two; neither can be opened.
    for (const auto& [pid, name] : {std::pair<DWORD, std::u16string>{0, u"[System Process]"},
                                    std::pair<DWORD, std::u16string>{4, u"System"}}) {
        Process system;
        system.pid = pid;
        system.exe_name = name;
        system.user_sid = "S-1-5-18";
        system.elevated = true;
        start(std::move(system));
    }
}

Process& Processes::start(Process process) {
    drop_ended();
    if (process.pid == 0 && !table_.empty()) {
        while (lookup(next_pid_)) next_pid_ += 4;
        process.pid = next_pid_;
        next_pid_ += 4;
    } else if (lookup(process.pid)) {
        throw std::logic_error("sim: a process with this id is already listed");
    }
    if (process.exe_name.empty()) process.exe_name = file_name_of(process.image_path);
    table_.push_back(std::make_shared<Process>(std::move(process)));
    return *table_.back();
}

Process& Processes::start(std::string_view image_path) {
    Process process;
    process.image_path = installer_helper::utf16_from_wtf8(image_path);
    return start(std::move(process));
}

void Processes::exit(DWORD pid, DWORD exit_code) {
    const ProcessPtr process = lookup(pid);
    if (!process) throw std::logic_error("sim: no such process");
    process->exit_time = clock_.milliseconds;
    process->exit_code = exit_code;
    process->held_elsewhere = true;
}

void Processes::remove(DWORD pid) {
    std::erase_if(table_, [&](const ProcessPtr& process) { return process->pid == pid; });
}

Process* Processes::find(DWORD pid) { return lookup(pid).get(); }

bool Processes::running(DWORD pid) {
    const ProcessPtr process = lookup(pid);
    return process && !process->has_exited(clock_.milliseconds);
}

std::vector<ProcessPtr> Processes::listed() {
    drop_ended();
    return table_;
}

ProcessPtr Processes::lookup(DWORD pid) {
    drop_ended();
    const auto found = std::find_if(table_.begin(), table_.end(),
                                    [&](const ProcessPtr& process) { return process->pid == pid; });
    return found == table_.end() ? nullptr : *found;
}

void Processes::terminate(const ProcessPtr& process, DWORD exit_code) {
    if (process->terminated) return;
    process->terminated = true;
    process->exit_code = exit_code;
    if (process->exit_delay_ms != Process::never)
        process->exit_time = clock_.milliseconds + process->exit_delay_ms;
    terminations_.push_back({process->pid, process->image_path, exit_code});
    if (process->restarts) {
        Process again = *process;
        again.pid = 0;
        again.restarts = false;
        again.terminated = false;
        again.exit_time.reset();
        again.exit_code = 259;
        again.held_elsewhere = false;
        again.handles = 0;
        start(std::move(again));
    }
}

// An ended process leaves the table when its last handle closes.
void Processes::drop_ended() {
    std::erase_if(table_, [&](const ProcessPtr& process) {
        return process->has_exited(clock_.milliseconds) && !process->held_elsewhere &&
               process->handles == 0;
    });
}

}  // namespace sim
