// The X11 calibration window: full screen on the program's monitor, its events, its painting and
// the bell. The main loop and the worker's posts are the Linux layer's (display.cpp).

#include "platform/x11/x11_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <atomic>

#include "common/shared_state.h"
#include "platform/linux/display_backend.h"
#include "platform/linux/outside_end.h"
#include "platform/paint/target_frame.h"
#include "platform/x11/calibration_window.h"
#include "platform/x11/x_errors.h"
#include "platform/x11/x_util.h"

namespace {

// Main thread only, but for the identifier, which the worker's notice reads.
struct XCalibrationWindow {
    Display* display = nullptr;
    Window window = 0;
    Atom deleteWindow = 0;
    int width = 0;
    int height = 0;
};

XCalibrationWindow theWindow;
std::atomic<unsigned long> calibrationWindowId{0};

Cursor MakeInvisibleCursor(Display* display, Window window)
{
    static const char kEmpty[8] = {};
    Pixmap blank = XCreateBitmapFromData(display, window, kEmpty, 8, 8);
    XColor black{};
    Cursor cursor = XCreatePixmapCursor(display, blank, blank, &black, &black, 0, 0);
    XFreePixmap(display, blank);
    return cursor;
}

void RequestFullScreen(Display* display, Window window)
{
    const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
    const Atom fullScreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
    XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&fullScreen), 1);
}

// True when the window must be painted again.
bool HandleEvent(XCalibrationWindow* w, XEvent* event)
{
    switch (event->type) {
    case Expose: return true;
    case ConfigureNotify:
        if (event->xconfigure.window == w->window &&
            (event->xconfigure.width != w->width || event->xconfigure.height != w->height)) {
            w->width = event->xconfigure.width;
            w->height = event->xconfigure.height;
            return true;
        }
        return false;
    case KeyPress:
        // Every other key is swallowed.
        if (XLookupKeysym(&event->xkey, 0) == XK_Escape) {
            abortRequested.store(1);
        }
        return false;
    case ClientMessage:
        if (static_cast<Atom>(event->xclient.data.l[0]) == w->deleteWindow) {
            // Only the worker's result ends the run; the window stays.
            abortRequested.store(1);
        }
        return false;
    default: return false;
    }
}

}  // namespace

unsigned long CalibrationWindowId()
{
    return calibrationWindowId.load();
}

namespace x11 {

bool OpenWindow(const char* title)
{
    XCalibrationWindow* w = &theWindow;
    w->display = TakeStartConnection();
    if (w->display == nullptr) {
        w->display = OpenDisplayRetrying();
    }
    if (w->display == nullptr) {
        return false;
    }
    Display* display = w->display;
    const int screen = DefaultScreen(display);
    // With several monitors the X screen spans them all; the targets belong on one of them.
    const ScreenRect monitor = ProgramMonitor(display);
    w->width = monitor.width;
    w->height = monitor.height;

    XSetWindowAttributes attributes{};
    attributes.background_pixel = WhitePixel(display, screen);
    attributes.event_mask = ExposureMask | KeyPressMask | StructureNotifyMask | ButtonPressMask;
    // The server answers asynchronously: without the trap a refused window would go unseen and
    // the run would go on with nothing on the screen.
    BeginXErrorTrap(display);
    w->window = XCreateWindow(display, RootWindow(display, screen), monitor.x, monitor.y,
                              static_cast<unsigned>(w->width), static_cast<unsigned>(w->height), 0,
                              CopyFromParent, InputOutput, CopyFromParent,
                              CWBackPixel | CWEventMask, &attributes);
    if (w->window == 0) {
        EndXErrorTrap(display);
        XCloseDisplay(display);
        *w = XCalibrationWindow{};
        return false;
    }
    XStoreName(display, w->window, title);
    // A window manager fullscreens a window onto the monitor it was placed on.
    XSizeHints hints{};
    hints.flags = USPosition | USSize;
    hints.x = monitor.x;
    hints.y = monitor.y;
    hints.width = monitor.width;
    hints.height = monitor.height;
    XSetWMNormalHints(display, w->window, &hints);
    SetProgramIdentity(display, w->window);
    w->deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, w->window, &w->deleteWindow, 1);
    RequestFullScreen(display, w->window);

    Cursor invisible = MakeInvisibleCursor(display, w->window);
    XDefineCursor(display, w->window, invisible);
    XFreeCursor(display, invisible);

    XMapRaised(display, w->window);
    if (EndXErrorTrap(display) != Success) {
        // What the refused requests left behind is released under a trap of its own.
        BeginXErrorTrap(display);
        XDestroyWindow(display, w->window);
        EndXErrorTrap(display);
        XCloseDisplay(display);
        *w = XCalibrationWindow{};
        return false;
    }
    // Keys go to the window from the start, also where no window manager hands out the focus.
    if (WaitForWindowEvent(display, w->window, MapNotify, 5000)) {
        XSetInputFocus(display, w->window, RevertToPointerRoot, CurrentTime);
    }
    XFlush(display);
    calibrationWindowId.store(w->window);
    return true;
}

void CloseWindow()
{
    XCalibrationWindow* w = &theWindow;
    calibrationWindowId.store(0);
    if (w->window != 0) {
        NoteWindowGone(w->window);
        XDestroyWindow(w->display, w->window);
    }
    if (w->display != nullptr) {
        XCloseDisplay(w->display);
    }
    *w = XCalibrationWindow{};
}

bool TakeEvents()
{
    XCalibrationWindow* w = &theWindow;
    bool repaint = false;
    while (!DisplayLost() && XPending(w->display) > 0) {
        XEvent event;
        XNextEvent(w->display, &event);
        repaint = HandleEvent(w, &event) || repaint;
    }
    return repaint;
}

void PaintWindow(float targetX, float targetY)
{
    XCalibrationWindow* w = &theWindow;
    cairo_t* cr = BeginWindowPaint(w->width, w->height);
    PaintCalibrationFrame(cr, w->width, w->height, targetX, targetY,
                          targetColor.load(std::memory_order_acquire));
    EndWindowPaint(w->display, w->window, cr);
}

void Beep()
{
    XBell(theWindow.display, 0);
}

void Sleep(pollfd* fds, int count)
{
    Display* display = theWindow.display;
    if (DisplayLost()) {
        return;
    }
    XFlush(display);
    if (DisplayLost() || XEventsQueued(display, QueuedAlready) > 0) {
        return;
    }
    PollWith(ConnectionNumber(display), fds, count);
}

}  // namespace x11
