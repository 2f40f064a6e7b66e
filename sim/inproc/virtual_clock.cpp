#include "inproc/virtual_clock.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace {

struct ScheduledAction {
    std::uint64_t atMs;
    std::function<void()> action;
};

std::mutex clockMutex;
std::atomic<std::uint64_t> nowMs{0};
std::int64_t calendarOffset = 0;
std::vector<ScheduledAction> pending;

}  // namespace

void VirtualClockReset(std::int64_t calendarOffsetMs)
{
    std::lock_guard<std::mutex> lock(clockMutex);
    nowMs.store(0);
    calendarOffset = calendarOffsetMs;
    pending.clear();
}

std::uint64_t VirtualNowMs()
{
    return nowMs.load();
}

void VirtualClockSchedule(std::uint64_t atMs, std::function<void()> action)
{
    std::lock_guard<std::mutex> lock(clockMutex);
    pending.push_back({atMs, std::move(action)});
    std::stable_sort(
        pending.begin(), pending.end(),
        [](const ScheduledAction& a, const ScheduledAction& b) { return a.atMs < b.atMs; });
}

void PauseMs(std::uint32_t ms)
{
    const std::uint64_t target = nowMs.load() + ms;
    for (;;) {
        std::function<void()> action;
        {
            std::lock_guard<std::mutex> lock(clockMutex);
            if (pending.empty() || pending.front().atMs > target) {
                nowMs.store(target);
                return;
            }
            nowMs.store(std::max(nowMs.load(), pending.front().atMs));
            action = std::move(pending.front().action);
            pending.erase(pending.begin());
        }
        // Outside the lock: an action may look at the clock itself.
        action();
    }
}

void YieldThread()
{
    std::this_thread::yield();
}

std::int64_t MonotonicUs()
{
    return static_cast<std::int64_t>(nowMs.load()) * 1000;
}

void PauseUntilUs(std::int64_t deadlineUs)
{
    const std::int64_t left = deadlineUs - MonotonicUs();
    if (left > 0) {
        PauseMs(static_cast<std::uint32_t>((left + 999) / 1000));
    }
}

std::int64_t CalendarSeconds()
{
    std::lock_guard<std::mutex> lock(clockMutex);
    return (calendarOffset + static_cast<std::int64_t>(nowMs.load())) / 1000;
}
