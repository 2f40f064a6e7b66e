#include "x_read.h"

#include <X11/Xutil.h>

bool RootPixelRgb(Display* display, int x, int y, std::uint32_t* rgb)
{
    XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) {
        return false;
    }
    XColor color{};
    color.pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    XQueryColor(display, DefaultColormap(display, DefaultScreen(display)), &color);
    *rgb = static_cast<std::uint32_t>((color.red >> 8) << 16 | (color.green >> 8) << 8 |
                                      (color.blue >> 8));
    return true;
}

bool HasProperty(Display* display, Window window, Atom property)
{
    int count = 0;
    Atom* atoms = XListProperties(display, window, &count);
    bool found = false;
    for (int i = 0; i < count; ++i) {
        found = found || atoms[i] == property;
    }
    if (atoms != nullptr) {
        XFree(atoms);
    }
    return found;
}
