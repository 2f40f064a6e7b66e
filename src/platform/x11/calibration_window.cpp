// The full-screen calibration window, its target drawing and the main thread's message loop.

#include "platform/display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>

#include "common/shared_state.h"
#include "common/strings.h"
#include "app/session_driver.h"
#include "app/target_geometry.h"
#include "platform/linux/window_math.h"
#include "platform/x11/calibration_window.h"
#include "platform/linux/outside_end.h"
#include "platform/x11/x_errors.h"
#include "platform/x11/x_util.h"

namespace {

enum class MessageKind { ShowTarget, Beep, CalibrationDone };

struct QueuedMessage {
    MessageKind kind;
    std::uint32_t first;
    std::uint32_t second;
};

}  // namespace

struct CalibrationWindow {
    Display* display = nullptr;
    Window window = 0;
    GC gc = nullptr;
    Atom deleteWindow = 0;
    int wakeFd = -1;
    int width = 0;
    int height = 0;
    float targetX = -1.0f;
    float targetY = -1.0f;
    bool needsPaint = false;
    std::deque<QueuedMessage> queue;  // guarded by windowLock
};

namespace {

// Guards the queue and the moment the window is freed. The worker holds it until it is done
// with the window, wake-up included: once the main loop can take the done message it may free
// the window, so nothing of the worker may still be on its way to it.
std::mutex windowLock;

std::atomic<CalibrationWindow*> theWindow{nullptr};
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

void Paint(CalibrationWindow* w)
{
    Display* display = w->display;
    const int screen = DefaultScreen(display);
    const unsigned long white = WhitePixel(display, screen);
    const unsigned long black = BlackPixel(display, screen);
    GC gc = w->gc;

    XSetForeground(display, gc, white);
    XFillRectangle(display, w->window, gc, 0, 0, static_cast<unsigned>(w->width),
                   static_cast<unsigned>(w->height));

    TargetGeometry box{};
    if (!ComputeTargetGeometry(w->width, w->height, w->targetX, w->targetY, &box)) {
        return;
    }
    const unsigned long fill =
        AllocRgb(display, ColorRefToRgb(targetColor.load(std::memory_order_acquire)));

    // X arcs span x..x+width inclusive; the box's right and bottom edges lie outside the shape.
    const int boxWidth = box.right - box.left - 1;
    const int boxHeight = box.bottom - box.top - 1;
    const int discLeft = box.left + box.inset;
    const int discTop = box.top + box.inset;
    const int discWidth = (box.right - box.inset) - discLeft - 1;
    const int discHeight = (box.bottom - box.inset) - discTop - 1;
    constexpr int kFullCircle = 360 * 64;

    XSetForeground(display, gc, black);
    XSetLineAttributes(display, gc, 3, LineSolid, CapButt, JoinMiter);
    if (boxWidth >= 0 && boxHeight >= 0) {
        XDrawArc(display, w->window, gc, box.left, box.top, static_cast<unsigned>(boxWidth),
                 static_cast<unsigned>(boxHeight), 0, kFullCircle);
    }

    if (discWidth >= 0 && discHeight >= 0) {
        XSetForeground(display, gc, fill);
        XFillArc(display, w->window, gc, discLeft, discTop, static_cast<unsigned>(discWidth),
                 static_cast<unsigned>(discHeight), 0, kFullCircle);
        XSetForeground(display, gc, black);
        XSetLineAttributes(display, gc, 1, LineSolid, CapNotLast, JoinMiter);
        XDrawArc(display, w->window, gc, discLeft, discTop, static_cast<unsigned>(discWidth),
                 static_cast<unsigned>(discHeight), 0, kFullCircle);
    }

    XSetForeground(display, gc, black);
    XSetLineAttributes(display, gc, 1, LineSolid, CapNotLast, JoinMiter);
    XDrawLine(display, w->window, gc, box.left, box.top, box.right, box.bottom);
    XDrawLine(display, w->window, gc, box.left, box.bottom, box.right, box.top);

    XSetLineAttributes(display, gc, 3, LineSolid, CapButt, JoinMiter);
    XDrawLine(display, w->window, gc, box.left, box.midY, box.right, box.midY);
    XDrawLine(display, w->window, gc, box.midX, box.bottom, box.midX, box.top);
}

bool Post(CalibrationWindow* w, const QueuedMessage& message)
{
    if (w == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> guard(windowLock);
    w->queue.push_back(message);
    const std::uint64_t one = 1;
    ssize_t written;
    do {
        written = write(w->wakeFd, &one, sizeof one);
    } while (written < 0 && errno == EINTR);
    return true;
}

// What the worker has posted so far, in order.
std::deque<QueuedMessage> TakeMessages(CalibrationWindow* w)
{
    std::uint64_t counter;
    while (read(w->wakeFd, &counter, sizeof counter) < 0 && errno == EINTR) {
    }
    std::deque<QueuedMessage> messages;
    std::lock_guard<std::mutex> guard(windowLock);
    messages.swap(w->queue);
    return messages;
}

void HandleEvent(CalibrationWindow* w, XEvent* event)
{
    switch (event->type) {
    case Expose: w->needsPaint = true; break;
    case ConfigureNotify:
        if (event->xconfigure.window == w->window &&
            (event->xconfigure.width != w->width || event->xconfigure.height != w->height)) {
            w->width = event->xconfigure.width;
            w->height = event->xconfigure.height;
            w->needsPaint = true;
        }
        break;
    case KeyPress:
        // Every other key is swallowed.
        if (XLookupKeysym(&event->xkey, 0) == XK_Escape) {
            abortRequested.store(1);
        }
        break;
    case ClientMessage:
        if (static_cast<Atom>(event->xclient.data.l[0]) == w->deleteWindow) {
            // Only the worker's result ends the run; the window stays.
            abortRequested.store(1);
        }
        break;
    default: break;
    }
}

void FreeWindow(CalibrationWindow* w)
{
    if (w->gc != nullptr) {
        XFreeGC(w->display, w->gc);
    }
    if (w->window != 0) {
        NoteWindowGone(w->window);
        XDestroyWindow(w->display, w->window);
    }
    if (w->display != nullptr) {
        XCloseDisplay(w->display);
    }
    if (w->wakeFd >= 0) {
        close(w->wakeFd);
    }
    delete w;
}

}  // namespace

unsigned long CalibrationWindowId()
{
    return calibrationWindowId.load();
}

WindowHandle CreateCalibrationWindow()
{
    char title[256];
    if (!LoadStringResource(IDS_CAPTION, title, sizeof title) || theWindow.load() != nullptr) {
        return nullptr;
    }
    CatchOutsideEnds();
    CalibrationWindow* w = new (std::nothrow) CalibrationWindow;
    if (w == nullptr) {
        return nullptr;
    }
    w->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    w->display = OpenDisplayRetrying();
    if (w->wakeFd < 0 || w->display == nullptr) {
        FreeWindow(w);
        return nullptr;
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
        FreeWindow(w);
        return nullptr;
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

    w->gc = XCreateGC(display, w->window, 0, nullptr);
    XMapRaised(display, w->window);
    if (EndXErrorTrap(display) != Success) {
        // What the refused requests left behind is released under a trap of its own.
        BeginXErrorTrap(display);
        XFreeGC(display, w->gc);
        XDestroyWindow(display, w->window);
        EndXErrorTrap(display);
        w->gc = nullptr;
        w->window = 0;
        FreeWindow(w);
        return nullptr;
    }
    // Keys go to the window from the start, also where no window manager hands out the focus.
    if (WaitForWindowEvent(display, w->window, MapNotify, 5000)) {
        XSetInputFocus(display, w->window, RevertToPointerRoot, CurrentTime);
    }
    XFlush(display);
    theWindow.store(w);
    calibrationWindowId.store(w->window);
    return w;
}

void ClearTarget(WindowHandle window)
{
    if (window == nullptr) {
        return;
    }
    window->targetX = -1.0f;
    window->needsPaint = true;
}

std::uint32_t PumpUntilQuit()
{
    CalibrationWindow* w = theWindow.load();
    if (w == nullptr) {
        return static_cast<std::uint32_t>(ResultCannotStart);
    }
    Display* display = w->display;
    for (;;) {
        if (OutsideEndRequested()) {
            EndRunFromOutside();
            return static_cast<std::uint32_t>(ResultUserAbort);
        }
        for (const QueuedMessage& message : TakeMessages(w)) {
            if (message.kind == MessageKind::CalibrationDone) {
                return message.second;
            }
            if (message.kind == MessageKind::Beep) {
                XBell(display, 0);
                continue;
            }
            ClearTarget(w);
            // The words are bit patterns of floats: copy the bits, convert no number.
            std::memcpy(&w->targetX, &message.first, sizeof w->targetX);
            std::memcpy(&w->targetY, &message.second, sizeof w->targetY);
            w->needsPaint = true;
        }
        while (!DisplayLost() && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            HandleEvent(w, &event);
        }
        if (DisplayLost()) {
            continue;
        }
        if (w->needsPaint) {
            w->needsPaint = false;
            Paint(w);
        }
        XFlush(display);
        if (XEventsQueued(display, QueuedAlready) > 0) {
            continue;
        }
        pollfd descriptors[3] = {{ConnectionNumber(display), POLLIN, 0},
                                 {w->wakeFd, POLLIN, 0},
                                 {OutsideEndFd(), POLLIN, 0}};
        while (poll(descriptors, 3, -1) < 0 && errno == EINTR) {
        }
    }
}

bool WaitForCalibrationDoneMessage(std::uint32_t timeoutMs)
{
    CalibrationWindow* w = theWindow.load();
    if (w == nullptr) {
        return false;
    }
    // Only the worker's queue is looked at: the display may be gone.
    const std::int64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        for (const QueuedMessage& message : TakeMessages(w)) {
            if (message.kind == MessageKind::CalibrationDone) {
                return true;
            }
        }
        const std::int64_t left = deadline - MonotonicMs();
        if (left <= 0) {
            return false;
        }
        pollfd descriptor{w->wakeFd, POLLIN, 0};
        poll(&descriptor, 1, static_cast<int>(left));
    }
}

void DestroyCalibrationWindow(WindowHandle window)
{
    if (window == nullptr) {
        return;
    }
    if (window == theWindow.load()) {
        theWindow.store(nullptr);
        calibrationWindowId.store(0);
    }
    {
        // Waits for a worker still inside a post to this window.
        std::lock_guard<std::mutex> guard(windowLock);
    }
    FreeWindow(window);
}

bool PostShowTargetMessage(WindowHandle window, std::uint32_t xBits, std::uint32_t yBits)
{
    return Post(window, QueuedMessage{MessageKind::ShowTarget, xBits, yBits});
}

bool PostCalibrationDoneMessage(WindowHandle window, std::int32_t result)
{
    return Post(window,
                QueuedMessage{MessageKind::CalibrationDone, 0, static_cast<std::uint32_t>(result)});
}

void SystemBeep()
{
    // Rung by the main loop: a connection whose server goes away stays locked to the thread that
    // noticed, so the worker never uses the window's connection.
    Post(theWindow.load(), QueuedMessage{MessageKind::Beep, 0, 0});
}
