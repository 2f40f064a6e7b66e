#pragma once
// What the test tools read back from an X server: a pixel of the screen and a window's property.

#include <X11/Xlib.h>

#include <cstdint>

// The colour of the root window's pixel (x, y) as 0xRRGGBB; false where it cannot be read.
bool RootPixelRgb(Display* display, int x, int y, std::uint32_t* rgb);

// Whether window carries property.
bool HasProperty(Display* display, Window window, Atom property);
