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
