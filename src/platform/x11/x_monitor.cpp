#include "platform/x11/x_monitor.h"

#include <X11/extensions/Xrandr.h>

#include <vector>

ScreenRect ProgramMonitor(Display* display)
{
    const int screen = DefaultScreen(display);
    const ScreenRect whole{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
    int eventBase = 0;
    int errorBase = 0;
    int major = 1;
    int minor = 5;
    if (!XRRQueryExtension(display, &eventBase, &errorBase) ||
        !XRRQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 5)) {
        return whole;
    }
    int count = 0;
    XRRMonitorInfo* found = XRRGetMonitors(display, RootWindow(display, screen), True, &count);
    if (found == nullptr) {
        return whole;
    }
    std::vector<MonitorInfo> monitors;
    for (int i = 0; i < count; ++i) {
        monitors.push_back(MonitorInfo{{found[i].x, found[i].y, found[i].width, found[i].height},
                                       found[i].primary != 0});
    }
    XRRFreeMonitors(found);
    return ChooseMonitor(monitors.data(), static_cast<int>(monitors.size()), whole);
}
