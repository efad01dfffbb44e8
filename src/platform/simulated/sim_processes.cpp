// The seam's process functions, acting on the simulated machine's process
// table and clock.
#include "platform/simulated/machine.h"
#include "platform/simulated/processes.h"
#include "platform/simulated/sim_handles.h"
#include "platform/win_api.h"

#include <algorithm>
#include <stdexcept>

namespace win {
namespace {

using sim::current;
using sim::Machine;
using sim::ProcessPtr;

constexpr DWORD ERROR_BAD_LENGTH = 24;
constexpr DWORD query_rights = PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION;

BOOL failure(Machine& machine, DWORD error) {
    machine.set_last_error(error);
    return FALSE;
}

std::string owner_of(const Machine& machine, const sim::Process& process) {
    return process.user_sid.empty() ? machine.accounts.user_sid : process.user_sid;
}

// An unelevated caller may open only the unelevated processes of its own
// account; an elevated one may open any (as with the debug privilege).
bool may_open(const Machine& machine, const sim::Process& process) {
    if (machine.accounts.elevated) return true;
    return !process.elevated && owner_of(machine, process) == machine.accounts.user_sid;
}

struct ProcessObject : sim::TokenSource {
    ProcessObject(ProcessPtr process, DWORD access, bool may_read_token)
        : process(std::move(process)), access(access), may_read_token(may_read_token) {
        ++this->process->handles;
    }
    ~ProcessObject() override { --process->handles; }

    bool token_for(sim::TokenObject& token, DWORD) override {
        Machine& machine = current();
        if ((access & query_rights) == 0 || !may_read_token)
            return failure(machine, ERROR_ACCESS_DENIED);
        token.user_sid = owner_of(machine, *process);
        token.elevated = process->elevated;
        return true;
    }

    ProcessPtr process;
    DWORD access;
    bool may_read_token;
};

struct SnapshotEntry {
    DWORD pid;
    DWORD parent_pid;
    std::u16string exe_name;
};

struct SnapshotObject : sim::HandleObject {
    std::vector<SnapshotEntry> entries;
    std::size_t next = 0;
};

BOOL next_entry(HANDLE snapshot, PROCESSENTRY32W* entry, const char* function, bool first) {
    Machine& machine = current();
    if (!machine.enter(function, false)) return FALSE;
    auto* object = machine.handle<SnapshotObject>(snapshot);
    if (object == nullptr) return failure(machine, ERROR_INVALID_HANDLE);
    if (entry->dwSize < sizeof(PROCESSENTRY32W)) return failure(machine, ERROR_BAD_LENGTH);
    if (first) object->next = 0;
    if (object->next >= object->entries.size()) return failure(machine, ERROR_NO_MORE_FILES);
    const SnapshotEntry& from = object->entries[object->next++];
    const DWORD size = entry->dwSize;
    *entry = PROCESSENTRY32W{};
    entry->dwSize = size;
    entry->th32ProcessID = from.pid;
    entry->th32ParentProcessID = from.parent_pid;
    entry->cntThreads = 1;
    const std::size_t length = std::min(from.exe_name.size(), MAX_PATH - 1);
    std::copy_n(from.exe_name.begin(), length, entry->szExeFile);
    return TRUE;
}

}  // namespace

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD) {
    Machine& machine = current();
    if (!machine.enter("CreateToolhelp32Snapshot", false)) return INVALID_HANDLE_VALUE;
    if ((flags & TH32CS_SNAPPROCESS) == 0) {
        machine.set_last_error(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto snapshot = std::make_unique<SnapshotObject>();
    for (const ProcessPtr& process : machine.processes.listed())
        snapshot->entries.push_back({process->pid, process->parent_pid, process->exe_name});
    return machine.add_handle(std::move(snapshot));
}

BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) {
    return next_entry(snapshot, entry, "Process32FirstW", true);
}

BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) {
    return next_entry(snapshot, entry, "Process32NextW", false);
}

HANDLE OpenProcess(DWORD desired_access, BOOL inherit_handle, DWORD process_id) {
    Machine& machine = current();
    const auto find = [&] { return process_id == 0 ? nullptr : machine.processes.lookup(process_id); };
    ProcessPtr process = find();
    const std::u16string image = process ? process->image_path : std::u16string();
    if (!machine.enter("OpenProcess", false, image)) return nullptr;
    process = find();  // a hook may have changed the table
    if (!process || inherit_handle) return failure(machine, ERROR_INVALID_PARAMETER), nullptr;
    if (!may_open(machine, *process) || (desired_access & process->denied_access) != 0)
        return failure(machine, ERROR_ACCESS_DENIED), nullptr;
    const bool may_read_token =
        machine.accounts.elevated || owner_of(machine, *process) == machine.accounts.user_sid;
    return machine.add_handle(
        std::make_unique<ProcessObject>(process, desired_access, may_read_token));
}

BOOL QueryFullProcessImageNameW(HANDLE process, DWORD flags, char16_t* name, DWORD* size) {
    Machine& machine = current();
    auto* object = machine.handle<ProcessObject>(process);
    const std::u16string_view image = object ? std::u16string_view(object->process->image_path)
                                             : std::u16string_view();
    if (!machine.enter("QueryFullProcessImageNameW", false, image)) return FALSE;
    if (object == nullptr) return failure(machine, ERROR_INVALID_HANDLE);
    if ((object->access & query_rights) == 0) return failure(machine, ERROR_ACCESS_DENIED);
    // Only the Win32 form is modelled, not PROCESS_NAME_NATIVE.
    if (flags != 0) return failure(machine, ERROR_INVALID_PARAMETER);
    if (image.size() + 1 > *size) return failure(machine, ERROR_INSUFFICIENT_BUFFER);
    std::copy(image.begin(), image.end(), name);
    name[image.size()] = 0;
    *size = static_cast<DWORD>(image.size());
    return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exit_code) {
    Machine& machine = current();
    if (!machine.enter("TerminateProcess", true)) return FALSE;
    auto* object = machine.handle<ProcessObject>(process);
    if (object == nullptr) return failure(machine, ERROR_INVALID_HANDLE);
    if ((object->access & PROCESS_TERMINATE) == 0) return failure(machine, ERROR_ACCESS_DENIED);
    // Windows refuses to terminate a process that has already ended.
    if (object->process->has_exited(machine.clock.milliseconds))
        return failure(machine, ERROR_ACCESS_DENIED);
    if (object->process->terminate_error != 0)
        return failure(machine, object->process->terminate_error);
    machine.processes.terminate(object->process, exit_code);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    Machine& machine = current();
    if (!machine.enter("WaitForSingleObject", false)) return WAIT_FAILED;
    auto* waited = machine.handle<ProcessObject>(object);
    if (waited == nullptr) return failure(machine, ERROR_INVALID_HANDLE), WAIT_FAILED;
    if ((waited->access & SYNCHRONIZE) == 0) return failure(machine, ERROR_ACCESS_DENIED), WAIT_FAILED;
    const sim::Process& process = *waited->process;
    const std::uint64_t now = machine.clock.milliseconds;
    if (process.has_exited(now)) return WAIT_OBJECT_0;
    if (process.exit_time && *process.exit_time - now <= milliseconds) {
        machine.clock.milliseconds = *process.exit_time;
        return WAIT_OBJECT_0;
    }
    if (milliseconds == INFINITE)
        throw std::logic_error("sim: WaitForSingleObject would wait forever");
    machine.clock.advance(milliseconds);
    return WAIT_TIMEOUT;
}

}  // namespace win
