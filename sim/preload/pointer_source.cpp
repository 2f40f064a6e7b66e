#include "pointer_source.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <new>

#include "platform/x11/x_monitor.h"
#include "sim_controller.h"

struct PointerSource {
    Display* display;
    int xiOpcode;  // 0: no XInput 2.2, the button is only sampled
    unsigned char buttonMap[256];
    ScreenRect monitor;  // where the calibration window is, whose edges are the touch range's
};

namespace {

// Raw events, unlike ordinary ones, reach every client that asks, whichever window is under the
// pointer and whoever else listens; so a click that begins and ends between two polls is seen.
int ListenToRawButtons(Display* display)
{
    int opcode = 0;
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) {
        return 0;
    }
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(display, &major, &minor) != Success || major < 2 ||
        (major == 2 && minor < 2)) {
        return 0;
    }
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    if (XISelectEvents(display, DefaultRootWindow(display), &mask, 1) != Success) {
        return 0;
    }
    XSync(display, False);
    return opcode;
}

}  // namespace

PointerSource* PointerSourceOpen()
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return nullptr;
    }
    PointerSource* source =
        new (std::nothrow) PointerSource{display, 0, {}, ProgramMonitor(display)};
    if (source == nullptr) {
        XCloseDisplay(display);
        return nullptr;
    }
    // Raw events name the physical button; a left-handed mapping makes another one the first.
    const int mapped = XGetPointerMapping(display, source->buttonMap, sizeof source->buttonMap);
    for (int i = mapped; i < static_cast<int>(sizeof source->buttonMap); ++i) {
        source->buttonMap[i] = static_cast<unsigned char>(i + 1);
    }
    source->xiOpcode = ListenToRawButtons(display);
    return source;
}

bool PointerSourceRead(PointerSource* source, std::vector<PointerState>* states)
{
    states->clear();
    if (source == nullptr) {
        return false;
    }
    Display* display = source->display;
    Window root = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    const unsigned long query = NextRequest(display);
    if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &windowX,
                       &windowY, &mask)) {
        return false;
    }
    const ScreenRect& monitor = source->monitor;
    std::int32_t x = 0;
    std::int32_t y = 0;
    SimScreenToController(rootX - monitor.x, rootY - monitor.y, monitor.width, monitor.height, &x,
                          &y);

    // An event is stamped with the last request the server had done when it sent it: one stamped
    // before the query is older than the place the query gave. One sent after it (while the
    // program was stopped, say, even if read along with the reply) waits for the next read, whose
    // place is newer: with this one, a click made elsewhere meanwhile would land where the pointer
    // was before.
    while (source->xiOpcode != 0 && XEventsQueued(display, QueuedAfterReading) > 0) {
        XEvent next;
        XPeekEvent(display, &next);
        if (static_cast<long>(next.xany.serial - query) >= 0) {
            break;
        }
        XEvent event;
        XNextEvent(display, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != source->xiOpcode ||
            !XGetEventData(display, cookie)) {
            continue;
        }
        if (cookie->evtype == XI_RawButtonPress || cookie->evtype == XI_RawButtonRelease) {
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            const int button =
                raw->detail >= 1 && raw->detail <= 256 ? source->buttonMap[raw->detail - 1] : 0;
            if (button == 1) {
                states->push_back({cookie->evtype == XI_RawButtonPress, x, y});
            }
        }
        XFreeEventData(display, cookie);
    }
    states->push_back({(mask & Button1Mask) != 0, x, y});
    return true;
}
