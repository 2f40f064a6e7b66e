#include "platform/linux/window_math.h"

ScreenRect ChooseMonitor(const MonitorInfo* monitors, int count, ScreenRect wholeScreen)
{
    const MonitorInfo* first = nullptr;
    for (int i = 0; i < count; ++i) {
        const MonitorInfo& monitor = monitors[i];
        if (monitor.rect.width <= 0 || monitor.rect.height <= 0) {
            continue;
        }
        if (monitor.primary) {
            return monitor.rect;
        }
        if (first == nullptr) {
            first = &monitor;
        }
    }
    return first != nullptr ? first->rect : wholeScreen;
}

void CenterOnDesktopOrigin(std::int32_t desktopLeft, std::int32_t desktopTop,
                           std::int32_t desktopRight, std::int32_t desktopBottom, std::int32_t w,
                           std::int32_t h, std::int32_t* x, std::int32_t* y)
{
    *x = desktopLeft + ((desktopRight - desktopLeft) - w) / 2;
    *y = desktopTop + ((desktopBottom - desktopTop) - h) / 2;
}

std::int32_t CentreWithin(std::int32_t inner, std::int32_t outer)
{
    return outer > inner ? (outer - inner) / 2 : 0;
}

std::int32_t DialogUnitsToPixelsX(std::int32_t units, std::int32_t averageCharWidth)
{
    return (units * averageCharWidth + 2) / 4;
}

std::int32_t DialogUnitsToPixelsY(std::int32_t units, std::int32_t charHeight)
{
    return (units * charHeight + 4) / 8;
}

std::uint32_t ColorRefToRgb(std::uint32_t colorRef)
{
    const std::uint32_t red = colorRef & 0xFFu;
    const std::uint32_t green = (colorRef >> 8) & 0xFFu;
    const std::uint32_t blue = (colorRef >> 16) & 0xFFu;
    return (red << 16) | (green << 8) | blue;
}
