// Failures are trapped step by step: a failing step is skipped and the
// routine goes on with the next one.
#pragma once

#include <exception>
#include <optional>
#include <utility>

namespace skerrow {

// Runs one step; tells whether it completed.
template <typename Step>
bool trap(Step&& step) noexcept {
    try {
        std::forward<Step>(step)();
        return true;
    } catch (...) {
        return false;
    }
}

// The step's result, or nothing when it failed.
template <typename Step>
auto attempt(Step&& step) noexcept -> std::optional<decltype(std::forward<Step>(step)())> {
    try {
        return std::forward<Step>(step)();
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace skerrow
