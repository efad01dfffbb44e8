// Fault injection: make calls of a seam function fail with a Windows error.
#pragma once

#include "platform/win_api.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class Faults {
public:
    // The nth call of `function` from now on (1 = the next one) fails with
    // `error`; with `path`, only calls naming that path (ignoring case) count.
    void fail_nth(std::string function, int nth, win::DWORD error, std::u16string path = {});
    // Every call of `function` (naming `path`, when given) fails with `error`.
    void fail_always(std::string function, win::DWORD error, std::u16string path = {});
    // Runs `action` right before the nth call of `function` from now on:
    // a stand-in for another program acting between two calls.
    void before_call(std::string function, int nth, std::function<void()> action);
    // Runs `action` right before every call from now on, with the function's
    // name: for campaigns that step in at each call of a run in turn.
    void before_each_call(std::function<void(std::string_view function)> action) {
        each_call_ = std::move(action);
    }
    void clear() {
        rules_.clear();
        hooks_.clear();
        each_call_ = nullptr;
    }

    // How often each function was called, injected failures included.
    int calls(std::string_view function) const;

    // From now on, logs each call of these functions with the path it names,
    // as "Function path": for tests that check the order of a run's changes.
    void record(std::vector<std::string> functions) { recorded_functions_ = std::move(functions); }
    const std::vector<std::string>& recorded() const { return recorded_; }

    // Used by Machine::enter: the error to fail this call with, if any.
    std::optional<win::DWORD> check(const char* function, std::u16string_view path);

private:
    struct Rule {
        std::string function;
        std::u16string path;
        int remaining_before_failure;  // calls to let pass first
        bool always;
        win::DWORD error;
        bool spent = false;
    };
    struct Hook {
        std::string function;
        int remaining_before_action;
        std::function<void()> action;
    };
    std::vector<Rule> rules_;
    std::vector<Hook> hooks_;
    std::function<void(std::string_view)> each_call_;
    std::vector<std::pair<std::string, int>> counts_;
    std::vector<std::string> recorded_functions_;
    std::vector<std::string> recorded_;
};

}  // namespace sim
