#pragma once
// The monitor the program's windows use, as the X server describes it. Apart from the other Xlib
// helpers, so that the simulator's pointer source maps clicks over the same monitor.

#include <X11/Xlib.h>

#include "platform/linux/window_math.h"

// The rectangle of the monitor the program uses (RandR's primary monitor, else its first
// monitor; the whole screen where the server has no RandR 1.5).
ScreenRect ProgramMonitor(Display* display);
