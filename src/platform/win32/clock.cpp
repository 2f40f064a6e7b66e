// Real time for the product.

#include "platform/clock.h"

#include <windows.h>

#include <ctime>

void PauseMs(std::uint32_t ms)
{
    Sleep(ms);
}

void YieldThread()
{
    Sleep(0);
}

std::int64_t CalendarSeconds()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}
