#pragma once
// Small Xlib helpers shared by the calibration window, the notice and the message box.

#include <X11/Xlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/window_math.h"
#include "platform/x11/x_monitor.h"

// A connection to $DISPLAY. A server may drop a new connection while it tears down another one,
// so a refused attempt is repeated a few times before giving up; null then.
Display* OpenDisplayRetrying();

// The dialog font, or null when the server has none (then the GC's default font draws).
XFontStruct* LoadDialogFont(Display* display);

// Average character width and line height of font (the server default's when null).
void FontMetrics(XFontStruct* font, int* averageWidth, int* lineHeight, int* ascent);

int TextWidth(XFontStruct* font, const std::string& text);

// Splits text at line breaks and wraps words so that no line is wider than maxWidth (a single
// word wider than that stands alone on its line).
std::vector<std::string> WrapText(XFontStruct* font, const std::string& text, int maxWidth);

// Pixel value for a 0xRRGGBB colour in the screen's default colormap (black when refused).
unsigned long AllocRgb(Display* display, std::uint32_t rgb);

// The face colour of the notice and the message box, as 0xRRGGBB.
constexpr std::uint32_t kFaceRgb = 0xF0F0F0;

// Milliseconds of the monotonic clock, for time limits of the window system's own.
std::int64_t MonotonicMs();

// Waits (at most timeoutMs) for an event of eventType on window; true when it came.
bool WaitForWindowEvent(Display* display, Window window, int eventType, int timeoutMs);

// Stores a STRING property on window.
void SetStringProperty(Display* display, Window window, const char* name, const std::string& value);

// Marks a top-level window as the program's: WM_CLASS ("qavel-calib", "QavelCalibHID", the class
// the desktop entry names), WM_CLIENT_MACHINE and _NET_WM_PID.
void SetProgramIdentity(Display* display, Window window);

// A GC drawing with font (the server default's when null); the caller frees it.
GC CreateTextGc(Display* display, Drawable drawable, XFontStruct* font);

// A top-level window of width x height centred on the program's monitor, on the face colour, with
// the program's identity. attributes and valueMask give the rest; x and y receive where it was
// put. 0 when refused.
Window CreateCentredFaceWindow(Display* display, int width, int height,
                               XSetWindowAttributes attributes, unsigned long valueMask,
                               std::int32_t* x, std::int32_t* y);

// Frees font (when not null) and closes the connection.
void FreeFontAndCloseDisplay(Display* display, XFontStruct* font);
