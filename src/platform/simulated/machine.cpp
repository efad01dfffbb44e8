#include "platform/simulated/machine.h"

#include <stdexcept>

namespace sim {
namespace {
Machine* installed = nullptr;
}  // namespace

Machine::Machine() = default;
Machine::~Machine() = default;

bool Machine::enter(const char* function, bool changes_machine, std::u16string_view path) {
    files.next_call();
    if (crashed_) {
        last_error = win::ERROR_NOT_READY;
        return false;
    }
    if (const auto error = faults.check(function, path)) {
        last_error = *error;
        return false;
    }
    if (changes_machine) {
        if (changes_until_crash_ > 0 && --changes_until_crash_ == 0) {
            crashed_ = true;
            last_error = win::ERROR_NOT_READY;
            return false;
        }
        ++changes_made_;
    }
    return true;
}

win::HANDLE Machine::add_handle(std::unique_ptr<HandleObject> object) {
    const auto value = reinterpret_cast<win::HANDLE>(next_handle_);
    next_handle_ += 4;
    handles_[value] = std::move(object);
    return value;
}

bool Machine::close_handle(win::HANDLE value) {
    const auto found = handles_.find(value);
    if (found == handles_.end()) return false;
    auto object = std::move(found->second);  // its destructor may look at the table
    handles_.erase(found);
    return true;
}

void* Machine::local_alloc(std::size_t bytes) {
    auto memory = std::make_unique<std::byte[]>(bytes == 0 ? 1 : bytes);
    void* address = memory.get();
    allocations_[address] = std::move(memory);
    return address;
}

bool Machine::local_free(void* memory) {
    security_descriptors_.erase(memory);
    return allocations_.erase(memory) == 1;
}

void* Machine::add_security_descriptor(SecurityDescriptor descriptor) {
    void* memory = local_alloc(self_relative_size(descriptor));
    security_descriptors_[memory] = std::move(descriptor);
    return memory;
}

const SecurityDescriptor* Machine::security_descriptor(const void* memory) const {
    const auto found = security_descriptors_.find(memory);
    return found == security_descriptors_.end() ? nullptr : &found->second;
}

void Machine::restart(Restart kind, const FileSystem::PowerLoss& loss) {
    handles_.clear();
    if (kind == Restart::power_loss) {
        files.power_loss(loss);
        registry.power_loss();
    }
    crashed_ = false;
    changes_until_crash_ = 0;
    last_error = 0;
}

Machine& current() {
    if (installed == nullptr) throw std::logic_error("sim: no simulated machine is installed");
    return *installed;
}

ScopedMachine::ScopedMachine(Machine& machine) : previous_(installed) { installed = &machine; }
ScopedMachine::~ScopedMachine() { installed = previous_; }

}  // namespace sim
