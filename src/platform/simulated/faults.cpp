#include "platform/simulated/faults.h"

#include "platform/simulated/case_mapping.h"
#include "text_encoding.h"

#include <algorithm>

namespace sim {

void Faults::fail_nth(std::string function, int nth, win::DWORD error, std::u16string path) {
    rules_.push_back({std::move(function), std::move(path), nth - 1, false, error});
}

void Faults::fail_always(std::string function, win::DWORD error, std::u16string path) {
    rules_.push_back({std::move(function), std::move(path), 0, true, error});
}

void Faults::before_call(std::string function, int nth, std::function<void()> action) {
    hooks_.push_back({std::move(function), nth - 1, std::move(action)});
}

int Faults::calls(std::string_view function) const {
    const auto found = std::find_if(counts_.begin(), counts_.end(),
                                    [&](const auto& count) { return count.first == function; });
    return found == counts_.end() ? 0 : found->second;
}

std::optional<win::DWORD> Faults::check(const char* function, std::u16string_view path) {
    auto count = std::find_if(counts_.begin(), counts_.end(),
                              [&](const auto& entry) { return entry.first == function; });
    if (count == counts_.end()) count = counts_.insert(counts_.end(), {function, 0});
    ++count->second;
    if (std::find(recorded_functions_.begin(), recorded_functions_.end(), function) !=
        recorded_functions_.end())
        recorded_.push_back(std::string(function) + " " + installer_helper::wtf8_from_utf16(path));

    if (each_call_) each_call_(function);
    std::vector<std::function<void()>> due;
    for (Hook& hook : hooks_) {
        if (hook.function == function && hook.remaining_before_action-- == 0)
            due.push_back(std::move(hook.action));
    }
    std::erase_if(hooks_, [](const Hook& hook) { return hook.remaining_before_action < 0; });
    for (const auto& action : due) action();

    std::optional<win::DWORD> failure;
    for (Rule& rule : rules_) {
        if (rule.spent || rule.function != function) continue;
        if (!rule.path.empty() && !equal_ignoring_case(rule.path, path)) continue;
        if (rule.always) {
            failure = failure.value_or(rule.error);
        } else if (rule.remaining_before_failure-- == 0) {
            rule.spent = true;
            failure = failure.value_or(rule.error);
        }
    }
    return failure;
}

}  // namespace sim
