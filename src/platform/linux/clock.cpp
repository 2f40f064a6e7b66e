// The time seam on Linux.

#include "platform/clock.h"
#include "platform/linux/display_backend.h"

#include <errno.h>
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

namespace {

void WakeOnTime()
{
    // A run makes hundreds of pauses one after the other; the kernel's default leeway of 50 us
    // on each wake-up would add up to milliseconds.
    thread_local const bool precise = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    static_cast<void>(precise);
}

}  // namespace

void PauseMs(std::uint32_t ms)
{
    WakeOnTime();
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(ms / 1000);
    remaining.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

void YieldThread()
{
    sched_yield();
}

// A 32-bit counter would stop in 2038 and every time-out with it.
static_assert(sizeof(time_t) == 8, "build with _TIME_BITS=64");

std::int64_t CalendarSeconds()
{
    return static_cast<std::int64_t>(time(nullptr));
}

std::int64_t MonotonicUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void PauseUntilUs(std::int64_t deadlineUs)
{
    WakeOnTime();
    timespec at{};
    at.tv_sec = static_cast<time_t>(deadlineUs / 1000000);
    at.tv_nsec = static_cast<long>(deadlineUs % 1000000) * 1000L;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

std::int64_t MonotonicMs()
{
    return MonotonicUs() / 1000;
}
