#include "platform/simulated/user_environment.h"

#include "platform/simulated/case_mapping.h"

#include <algorithm>

namespace sim {

void* UserEnvironment::create_block(const std::vector<std::u16string>& entries) {
    std::size_t units = 1;  // the empty entry that ends the block
    for (const std::u16string& entry : entries) units += entry.size() + 1;
    auto block = std::make_unique<char16_t[]>(units);
    char16_t* next = block.get();
    for (const std::u16string& entry : entries) {
        next = std::copy(entry.begin(), entry.end(), next);
        *next++ = 0;
    }
    *next = 0;
    void* address = block.get();
    blocks_[address] = std::move(block);
    return address;
}

void UserEnvironment::set_variable(std::u16string_view name, std::u16string value) {
    variables_[upper_case(name)] = std::move(value);
}

void UserEnvironment::unset_variable(std::u16string_view name) { variables_.erase(upper_case(name)); }

const std::u16string* UserEnvironment::variable(std::u16string_view name) const {
    const auto found = variables_.find(upper_case(name));
    return found == variables_.end() ? nullptr : &found->second;
}

bool UserEnvironment::destroy_block(void* block) { return blocks_.erase(block) == 1; }

}  // namespace sim
