#pragma once
// Integer placement arithmetic shared by the calibration window, the notice and the message box.

#include <cstdint>

struct ScreenRect {
    std::int32_t x;
    std::int32_t y;
    std::int32_t width;
    std::int32_t height;
};

struct MonitorInfo {
    ScreenRect rect;
    bool primary;
};

// The monitor the program uses: the primary one, else the first, else the whole screen.
// Monitors without area are passed over.
ScreenRect ChooseMonitor(const MonitorInfo* monitors, int count, ScreenRect wholeScreen);

// Top-left corner that centres a w x h window on the desktop rectangle, with the halved
// differences truncated toward zero (a window wider than the desktop may land off its left edge).
void CenterOnDesktopOrigin(std::int32_t desktopLeft, std::int32_t desktopTop,
                           std::int32_t desktopRight, std::int32_t desktopBottom, std::int32_t w,
                           std::int32_t h, std::int32_t* x, std::int32_t* y);

// Offset that centres a length inner within outer; 0 where it does not fit, so that its start
// stays in view.
std::int32_t CentreWithin(std::int32_t inner, std::int32_t outer);

// Dialog units to pixels: a quarter of the average character width across, an eighth of the
// character height down, rounded to the nearest pixel.
std::int32_t DialogUnitsToPixelsX(std::int32_t units, std::int32_t averageCharWidth);
std::int32_t DialogUnitsToPixelsY(std::int32_t units, std::int32_t charHeight);

// COLORREF 0x00BBGGRR as 0xRRGGBB.
std::uint32_t ColorRefToRgb(std::uint32_t colorRef);
