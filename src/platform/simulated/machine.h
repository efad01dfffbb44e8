// A model Windows machine for host tests. The seam functions of win_api.h
// act on the machine installed with ScopedMachine; tests set a scenario up
// through the machine's members and check it afterwards.
#pragma once

#include "platform/simulated/accounts.h"
#include "platform/simulated/clock.h"
#include "platform/simulated/console.h"
#include "platform/simulated/faults.h"
#include "platform/simulated/file_system.h"
#include "platform/simulated/processes.h"
#include "platform/simulated/random_source.h"
#include "platform/simulated/registry.h"
#include "platform/simulated/security.h"
#include "platform/simulated/system_messages.h"
#include "platform/simulated/user_environment.h"
#include "platform/win_api.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace sim {

using win::DWORD;

// Something a handle refers to. Each model adds its own kinds.
struct HandleObject {
    virtual ~HandleObject() = default;
};

class Machine {
public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    FileSystem files;
    Accounts accounts;
    Console console;
    SystemMessages messages;
    Faults faults;
    Clock clock;
    Processes processes{clock};
    UserEnvironment environment;
    RandomSource random;
    Registry registry;

    // The helper's own process.
    DWORD current_process_id = 4242;
    std::u16string command_line = u"installer-helper.exe";

    // --- used by the seam functions -------------------------------------

    // Called first by every seam function. Answers false (with the last
    // error set) when the call must fail: an injected fault, or a machine
    // that has crashed. `changes_machine` calls count towards a crash.
    [[nodiscard]] bool enter(const char* function, bool changes_machine,
                             std::u16string_view path = {});

    DWORD last_error = 0;
    void set_last_error(DWORD error) { last_error = error; }

    win::HANDLE add_handle(std::unique_ptr<HandleObject> object);
    template <typename T>
    T* handle(win::HANDLE value) {
        const auto found = handles_.find(value);
        if (found == handles_.end()) return nullptr;
        return dynamic_cast<T*>(found->second.get());
    }
    // Closes a handle of any kind; false when there is none.
    bool close_handle(win::HANDLE value);
    std::size_t open_handle_count() const { return handles_.size(); }

    // Memory handed out as LocalAlloc would, released with LocalFree.
    void* local_alloc(std::size_t bytes);
    bool local_free(void* memory);
    std::size_t outstanding_allocations() const {
        return allocations_.size() + environment.outstanding_blocks();
    }
    // A security descriptor held in LocalAlloc memory of its self-relative
    // size; null when the memory holds none.
    void* add_security_descriptor(SecurityDescriptor descriptor);
    const SecurityDescriptor* security_descriptor(const void* memory) const;

    // Crash injection: the run ends just before the Nth call that changes
    // the machine (counted from now). From then on every call fails with
    // ERROR_NOT_READY and changes nothing, until restart().
    void crash_at_change(int nth) { changes_until_crash_ = nth; }
    bool crashed() const { return crashed_; }
    int changes_made() const { return changes_made_; }
    // Starts the machine again: every handle of the old run is gone; a power
    // loss also loses what `loss` says of the file system's unforced name
    // changes and unflushed data (by default all of both), and the registry
    // changes of every hive not flushed since.
    enum class Restart { clean, power_loss };
    void restart(Restart kind, const FileSystem::PowerLoss& loss = {});

private:
    std::map<win::HANDLE, std::unique_ptr<HandleObject>> handles_;
    std::uintptr_t next_handle_ = 0x100;
    std::map<void*, std::unique_ptr<std::byte[]>> allocations_;
    std::map<const void*, SecurityDescriptor> security_descriptors_;
    int changes_until_crash_ = 0;
    int changes_made_ = 0;
    bool crashed_ = false;
};

// The machine that the seam functions act on.
Machine& current();

// Installs a machine for the lifetime of this object.
class ScopedMachine {
public:
    explicit ScopedMachine(Machine& machine);
    ~ScopedMachine();
    ScopedMachine(const ScopedMachine&) = delete;
    ScopedMachine& operator=(const ScopedMachine&) = delete;

private:
    Machine* previous_;
};

}  // namespace sim
