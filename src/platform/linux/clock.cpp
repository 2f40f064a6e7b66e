// The time seam on Linux.

#include "platform/clock.h"

#include <errno.h>
#include <sched.h>
#include <time.h>

void PauseMs(std::uint32_t ms)
{
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

std::int64_t CalendarSeconds()
{
    return static_cast<std::int64_t>(time(nullptr));
}
