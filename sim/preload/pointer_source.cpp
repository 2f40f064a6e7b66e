#include "pointer_source.h"

#include <X11/Xlib.h>

#include <new>

#include "sim_controller.h"

struct PointerSource {
    Display* display;
};

PointerSource* PointerSourceOpen()
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return nullptr;
    }
    PointerSource* source = new (std::nothrow) PointerSource{display};
    if (source == nullptr) {
        XCloseDisplay(display);
    }
    return source;
}

bool PointerSourceRead(PointerSource* source, bool* buttonDown, std::int32_t* x, std::int32_t* y)
{
    if (source == nullptr) {
        return false;
    }
    Display* display = source->display;
    const int screen = DefaultScreen(display);
    Window root = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display, RootWindow(display, screen), &root, &child, &rootX, &rootY,
                       &windowX, &windowY, &mask)) {
        return false;
    }
    *buttonDown = (mask & Button1Mask) != 0;
    SimScreenToController(rootX, rootY, DisplayWidth(display, screen),
                          DisplayHeight(display, screen), x, y);
    return true;
}
