#include "platform/linux/window_math.h"

#include <gtest/gtest.h>

TEST(WindowMath, CentringTruncatesTowardZero)
{
    std::int32_t x = 0;
    std::int32_t y = 0;
    CenterOnDesktopOrigin(0, 0, 1024, 768, 300, 100, &x, &y);
    EXPECT_EQ(362, x);
    EXPECT_EQ(334, y);
    CenterOnDesktopOrigin(0, 0, 1024, 768, 301, 100, &x, &y);
    EXPECT_EQ(361, x);
    // One pixel wider than the desktop: -1 / 2 is 0, not -1.
    CenterOnDesktopOrigin(0, 0, 1024, 768, 1025, 769, &x, &y);
    EXPECT_EQ(0, x);
    EXPECT_EQ(0, y);
    CenterOnDesktopOrigin(0, 0, 1024, 768, 1027, 768, &x, &y);
    EXPECT_EQ(-1, x);
    // A desktop that does not start at the origin.
    CenterOnDesktopOrigin(100, 50, 1124, 818, 300, 100, &x, &y);
    EXPECT_EQ(462, x);
    EXPECT_EQ(384, y);
}

TEST(WindowMath, DialogUnitsAndColours)
{
    // A 6 x 13 font: the notice's 186 x 50 units.
    EXPECT_EQ(279, DialogUnitsToPixelsX(186, 6));
    EXPECT_EQ(81, DialogUnitsToPixelsY(50, 13));
    EXPECT_EQ(0, DialogUnitsToPixelsY(1, 3)) << "rounds halves up, nothing below";
    EXPECT_EQ(0, DialogUnitsToPixelsX(0, 6));

    // COLORREF keeps red in the low byte; X wants it high.
    EXPECT_EQ(0x00FF00u, ColorRefToRgb(0x0000FF00));
    EXPECT_EQ(0xFF0000u, ColorRefToRgb(0x000000FF));
    EXPECT_EQ(0x0000FFu, ColorRefToRgb(0x00FF0000));
    EXPECT_EQ(0x123456u, ColorRefToRgb(0xAA563412));
}

TEST(WindowMath, ProgramMonitorIsThePrimaryElseTheFirstElseTheScreen)
{
    const ScreenRect whole{0, 0, 2304, 1024};
    const MonitorInfo sideBySide[] = {{{0, 0, 1280, 1024}, false}, {{1280, 0, 1024, 768}, true}};
    ScreenRect r = ChooseMonitor(sideBySide, 2, whole);
    EXPECT_EQ(1280, r.x);
    EXPECT_EQ(0, r.y);
    EXPECT_EQ(1024, r.width);
    EXPECT_EQ(768, r.height);

    const MonitorInfo nonePrimary[] = {{{1280, 0, 1024, 768}, false}, {{0, 0, 1280, 1024}, false}};
    r = ChooseMonitor(nonePrimary, 2, whole);
    EXPECT_EQ(1280, r.x);
    EXPECT_EQ(1024, r.width);

    r = ChooseMonitor(nullptr, 0, whole);
    EXPECT_EQ(2304, r.width);
    EXPECT_EQ(1024, r.height);

    // A primary without area (an output being switched off) is passed over, and so is a first one.
    const MonitorInfo empty[] = {
        {{0, 0, 0, 768}, true}, {{0, 0, 1024, 0}, false}, {{-1024, 0, 1024, 768}, false}};
    r = ChooseMonitor(empty, 3, whole);
    EXPECT_EQ(-1024, r.x);
    EXPECT_EQ(1024, r.width);
}
