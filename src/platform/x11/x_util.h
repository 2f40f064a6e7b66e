#pragma once
// Small Xlib helpers shared by the calibration window, the notice and the message box.

#include <X11/Xlib.h>
#include <cairo.h>

#include <cstdint>
#include <string>

#include "platform/linux/window_math.h"
#include "platform/x11/x_monitor.h"

// A connection to $DISPLAY. A server may drop a new connection while it tears down another one,
// so a refused attempt is repeated a few times before giving up; null then.
Display* OpenDisplayRetrying();

// The connection that found the display at start, kept for the calibration window: the first
// caller gets it (once), later ones null.
void KeepStartConnection(Display* display);
Display* TakeStartConnection();

// Pixel value for a 0xRRGGBB colour in the screen's default colormap (black when refused).
unsigned long AllocRgb(Display* display, std::uint32_t rgb);

// Waits (at most timeoutMs) for an event of eventType on window; true when it came.
bool WaitForWindowEvent(Display* display, Window window, int eventType, int timeoutMs);

// Stores a STRING property on window.
void SetStringProperty(Display* display, Window window, const char* name, const std::string& value);

// Marks a top-level window as the program's: WM_CLASS ("qavel-calib", "QavelCalibHID", the class
// the desktop entry names), WM_CLIENT_MACHINE and _NET_WM_PID.
void SetProgramIdentity(Display* display, Window window);

// Painting a window: what BeginWindowPaint gives is drawn into an image of width x height, and
// EndWindowPaint puts that on window in one go (at its top-left corner) and frees it.
cairo_t* BeginWindowPaint(int width, int height);
void EndWindowPaint(Display* display, Window window, cairo_t* cr);

// A top-level window of width x height centred on the program's monitor, on the face colour, with
// the program's identity. attributes and valueMask give the rest; x and y receive where it was
// put. 0 when refused.
Window CreateCentredFaceWindow(Display* display, int width, int height,
                               XSetWindowAttributes attributes, unsigned long valueMask,
                               std::int32_t* x, std::int32_t* y);

// Closes the connection, also one of its own (KeepBreakLocal) that broke.
void CloseConnection(Display* display);
