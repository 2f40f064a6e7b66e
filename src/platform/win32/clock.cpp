// Real time for the product.

#include "platform/clock.h"

#include <windows.h>

#include <time.h>

void PauseMs(std::uint32_t ms)
{
    Sleep(ms);
}

void YieldThread()
{
    Sleep(0);
}

// The 64-bit counter on both architectures: the 32-bit program's time_t is 32 bits wide and would
// stop counting in 2038, and with it every time-out.
std::int64_t CalendarSeconds()
{
    return static_cast<std::int64_t>(_time64(nullptr));
}

std::int64_t MonotonicUs()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<std::int64_t>(now.QuadPart / frequency.QuadPart * 1000000 +
                                     now.QuadPart % frequency.QuadPart * 1000000 /
                                         frequency.QuadPart);
}

void PauseUntilUs(std::int64_t deadlineUs)
{
    // Sleep may wake early by up to a tick; look again until the deadline has passed.
    for (std::int64_t left = deadlineUs - MonotonicUs(); left > 0;
         left = deadlineUs - MonotonicUs()) {
        Sleep(static_cast<DWORD>((left + 999) / 1000));
    }
}
