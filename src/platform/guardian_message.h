#pragma once
// What the program writes down the guardian's pipe, on every platform: fixed-size messages, each
// written whole, so the watcher reads one plan or one release at a time.

#include <cstdint>

#include "platform/guardian.h"

constexpr std::uint32_t kGuardianArm = 1;
constexpr std::uint32_t kGuardianRelease = 2;

struct GuardianMessage {
    std::uint32_t kind;
    GuardianPlan plan;  // for kGuardianArm
};

// The longest pause a plan may ask for: a second for the controller to save, with room to spare.
constexpr std::uint32_t kGuardianLongestPauseMs = 5000;

// A plan the watcher may act on: the sizes inside their arrays, the pauses bounded.
inline bool GuardianPlanValid(const GuardianPlan& plan)
{
    if (plan.count > sizeof plan.steps / sizeof plan.steps[0]) {
        return false;
    }
    for (std::uint32_t k = 0; k < plan.count; ++k) {
        const GuardianStep& step = plan.steps[k];
        if (step.length == 0 || step.length > sizeof step.report ||
            step.pauseMs > kGuardianLongestPauseMs) {
            return false;
        }
    }
    return true;
}
