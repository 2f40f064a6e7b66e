#include "platform/x11/x_util.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <cairo-xlib.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/linux/display_backend.h"
#include "platform/linux/window_math.h"
#include "platform/paint/dialog_text.h"
#include "platform/x11/x_errors.h"

namespace {

struct EventMatch {
    Window window;
    int type;
};

Bool MatchesEvent(Display*, XEvent* event, XPointer argument)
{
    const EventMatch* match = reinterpret_cast<const EventMatch*>(argument);
    return event->xany.window == match->window && event->type == match->type ? True : False;
}

Display* startConnection = nullptr;

}  // namespace

void KeepStartConnection(Display* display)
{
    startConnection = display;
}

Display* TakeStartConnection()
{
    Display* display = startConnection;
    startConnection = nullptr;
    return display;
}

Display* OpenDisplayRetrying()
{
    constexpr int kAttempts = 10;
    constexpr long kPauseNs = 50L * 1000 * 1000;
    for (int attempt = 1;; ++attempt) {
        if (Display* display = OpenConnection()) {
            return display;
        }
        // Without a display name there is nothing to wait for.
        const char* name = std::getenv("DISPLAY");
        if (attempt == kAttempts || name == nullptr || name[0] == '\0') {
            return nullptr;
        }
        timespec pause{0, kPauseNs};
        nanosleep(&pause, nullptr);
    }
}

unsigned long AllocRgb(Display* display, std::uint32_t rgb)
{
    XColor color{};
    color.red = static_cast<unsigned short>(((rgb >> 16) & 0xFF) * 0x101);
    color.green = static_cast<unsigned short>(((rgb >> 8) & 0xFF) * 0x101);
    color.blue = static_cast<unsigned short>((rgb & 0xFF) * 0x101);
    color.flags = DoRed | DoGreen | DoBlue;
    const int screen = DefaultScreen(display);
    if (XAllocColor(display, DefaultColormap(display, screen), &color) == 0) {
        return BlackPixel(display, screen);
    }
    return color.pixel;
}

bool WaitForWindowEvent(Display* display, Window window, int eventType, int timeoutMs)
{
    EventMatch match{window, eventType};
    XEvent event;
    const std::int64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        if (XCheckIfEvent(display, &event, MatchesEvent, reinterpret_cast<XPointer>(&match))) {
            return true;
        }
        const std::int64_t left = deadline - MonotonicMs();
        if (left <= 0 || ConnectionBroken(display)) {
            return false;
        }
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        poll(&descriptor, 1, static_cast<int>(left));
    }
}

void SetStringProperty(Display* display, Window window, const char* name, const std::string& value)
{
    const Atom atom = XInternAtom(display, name, False);
    XChangeProperty(display, window, atom, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(value.c_str()),
                    static_cast<int>(value.size()));
}

void SetProgramIdentity(Display* display, Window window)
{
    char name[] = "qavel-calib";
    char className[] = "QavelCalibHID";
    XClassHint classHint{name, className};
    XSetClassHint(display, window, &classHint);
    // A process id means something only together with the machine it runs on.
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) {
        char* hostName = host;
        XTextProperty machine{};
        if (XStringListToTextProperty(&hostName, 1, &machine) != 0) {
            XSetWMClientMachine(display, window, &machine);
            XFree(machine.value);
        }
    }
    const long pid = static_cast<long>(getpid());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
}

cairo_t* BeginWindowPaint(int width, int height)
{
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width > 0 ? width : 1,
                                                        height > 0 ? height : 1);
    cairo_t* cr = cairo_create(image);
    cairo_surface_destroy(image);
    return cr;
}

void EndWindowPaint(Display* display, Window window, cairo_t* cr)
{
    cairo_surface_t* image = cairo_get_target(cr);
    cairo_surface_flush(image);
    const int width = cairo_image_surface_get_width(image);
    const int height = cairo_image_surface_get_height(image);
    cairo_surface_t* target = cairo_xlib_surface_create(
        display, window, DefaultVisual(display, DefaultScreen(display)), width, height);
    cairo_t* out = cairo_create(target);
    cairo_set_operator(out, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(out, image, 0, 0);
    cairo_paint(out);
    cairo_destroy(out);
    cairo_surface_flush(target);
    cairo_surface_destroy(target);
    cairo_destroy(cr);
}

Window CreateCentredFaceWindow(Display* display, int width, int height,
                               XSetWindowAttributes attributes, unsigned long valueMask,
                               std::int32_t* x, std::int32_t* y)
{
    const int screen = DefaultScreen(display);
    const ScreenRect monitor = ProgramMonitor(display);
    CenterOnDesktopOrigin(monitor.x, monitor.y, monitor.x + monitor.width,
                          monitor.y + monitor.height, width, height, x, y);
    attributes.background_pixel = AllocRgb(display, kFaceRgb);
    const Window window =
        XCreateWindow(display, RootWindow(display, screen), *x, *y, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      valueMask | CWBackPixel, &attributes);
    if (window != 0) {
        SetProgramIdentity(display, window);
    }
    return window;
}

void CloseConnection(Display* display)
{
    ForgetConnection(display);
    XCloseDisplay(display);
}
