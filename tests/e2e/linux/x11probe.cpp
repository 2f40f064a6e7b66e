// Asks the X server what the end-to-end scripts need to know about the program's windows,
// and sends the window manager's close request, which no packaged tool sends without destroying.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "x_read.h"

namespace {

std::string WindowName(Display* display, Window window)
{
    char* name = nullptr;
    std::string result;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        result = name;
        XFree(name);
    }
    return result;
}

// Top-level windows that are on screen, bottom of the stack first.
std::vector<Window> ViewableTopLevels(Display* display)
{
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    std::vector<Window> result;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) {
        return result;
    }
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, children[i], &attributes) != 0 &&
            attributes.map_state == IsViewable) {
            result.push_back(children[i]);
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
    return result;
}

bool Geometry(Display* display, Window window, int* x, int* y, int* w, int* h)
{
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0) {
        return false;
    }
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, x, y, &child);
    *w = attributes.width;
    *h = attributes.height;
    return true;
}

// The program's windows come and go while the probe looks at them: a window destroyed between
// listing and asking about it is simply not there, instead of Xlib's default exit.
int IgnoreVanishedWindows(Display*, XErrorEvent*)
{
    return 0;
}

// The server may drop a new connection while it tears down another; try again a little later.
Display* OpenDisplayRetrying()
{
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr)) {
            return display;
        }
        usleep(50000);
    }
    return nullptr;
}

Window FindNamed(Display* display, const char* name, const char* atomName, int* count)
{
    const Atom required = atomName != nullptr ? XInternAtom(display, atomName, False) : None;
    Window last = 0;
    *count = 0;
    for (Window window : ViewableTopLevels(display)) {
        if (WindowName(display, window) == name &&
            (required == None || HasProperty(display, window, required))) {
            ++*count;
            last = window;
        }
    }
    return last;
}

bool PixelRgb(Display* display, int x, int y, char* out)
{
    std::uint32_t rgb = 0;
    if (!RootPixelRgb(display, x, y, &rgb)) {
        return false;
    }
    std::snprintf(out, 8, "%06x", static_cast<unsigned>(rgb));
    return true;
}

// One condition, checked on the open connection: "pixel-is X Y RRGGBB", "window NAME [ATOM]",
// "no-window NAME [ATOM]". -1 for a condition it does not know.
int Holds(Display* display, int argc, char** argv)
{
    const std::string what = argv[0];
    if (what == "pixel-is" && argc == 4) {
        char rgb[8];
        return PixelRgb(display, std::atoi(argv[1]), std::atoi(argv[2]), rgb) &&
               std::strcmp(rgb, argv[3]) == 0;
    }
    if ((what == "window" || what == "no-window") && (argc == 2 || argc == 3)) {
        int count = 0;
        FindNamed(display, argv[1], argc == 3 ? argv[2] : nullptr, &count);
        return what == "window" ? count > 0 : count == 0;
    }
    return -1;
}

// Polls a condition on one connection until it holds (0), the limit passes (1), or the watched
// process ends (3). Few connections: a server under connection churn drops some of them.
int Until(Display* display, int seconds, int pid, int argc, char** argv)
{
    const time_t deadline = time(nullptr) + seconds;
    for (;;) {
        const int holds = Holds(display, argc, argv);
        if (holds < 0) {
            return 2;
        }
        if (holds == 1) {
            return 0;
        }
        if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) {
            return Holds(display, argc, argv) == 1 ? 0 : 3;
        }
        if (time(nullptr) > deadline) {
            return 1;
        }
        usleep(20000);
    }
}

// Defines RandR monitors (NAME X Y W H PRIMARY, repeated), prints "ready" and keeps them for as
// long as it runs: the server drops a client's monitors with its connection.
int DefineMonitors(Display* display, int argc, char** argv)
{
    int major = 1;
    int minor = 5;
    if (argc == 0 || argc % 6 != 0 || !XRRQueryVersion(display, &major, &minor) ||
        (major == 1 && minor < 5)) {
        return 2;
    }
    for (int i = 0; i < argc; i += 6) {
        XRRMonitorInfo* monitor = XRRAllocateMonitor(display, 0);
        monitor->name = XInternAtom(display, argv[i], False);
        monitor->x = std::atoi(argv[i + 1]);
        monitor->y = std::atoi(argv[i + 2]);
        monitor->width = std::atoi(argv[i + 3]);
        monitor->height = std::atoi(argv[i + 4]);
        monitor->mwidth = monitor->width / 4;
        monitor->mheight = monitor->height / 4;
        monitor->primary = std::atoi(argv[i + 5]) != 0;
        XRRSetMonitor(display, DefaultRootWindow(display), monitor);
        XRRFreeMonitors(monitor);
    }
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);
    // Ends with the server, through Xlib's fatal-error exit.
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
    }
}

// Prints "listening" once key presses in WINDOW come here too, then the name of each of the next
// COUNT as it arrives; fails (1) when fewer arrive within SECONDS.
int Keys(Display* display, Window window, int count, int seconds)
{
    XSelectInput(display, window, KeyPressMask);
    XSync(display, False);
    std::printf("listening\n");
    std::fflush(stdout);
    const time_t deadline = time(nullptr) + seconds;
    int seen = 0;
    while (seen < count && time(nullptr) <= deadline) {
        if (XPending(display) == 0) {
            pollfd connection{ConnectionNumber(display), POLLIN, 0};
            poll(&connection, 1, 100);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == KeyPress) {
            const char* name = XKeysymToString(XLookupKeysym(&event.xkey, 0));
            std::printf("%s\n", name != nullptr ? name : "?");
            std::fflush(stdout);
            ++seen;
        }
    }
    return seen == count ? 0 : 1;
}

int Usage()
{
    std::fprintf(
        stderr,
        "usage: x11probe find NAME [ATOM] | count NAME [ATOM] | geometry ID | prop ID ATOM |\n"
        "       top-at X Y | pixel X Y | close ID | keys ID COUNT SECONDS |\n"
        "       monitors (NAME X Y W H PRIMARY)... |\n"
        "       until SECONDS PID (pixel-is X Y RRGGBB | window NAME [ATOM] |\n"
        "                          no-window NAME [ATOM])\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        return Usage();
    }
    XSetErrorHandler(IgnoreVanishedWindows);
    Display* display = OpenDisplayRetrying();
    if (display == nullptr) {
        std::fprintf(stderr, "x11probe: cannot open display\n");
        return 2;
    }
    const std::string command = argv[1];
    if (command == "until" && argc >= 5) {
        return Until(display, std::atoi(argv[2]), std::atoi(argv[3]), argc - 4, argv + 4);
    }
    if ((command == "find" || command == "count") && (argc == 3 || argc == 4)) {
        // With a property name, only windows that carry that property count.
        int count = 0;
        const Window last = FindNamed(display, argv[2], argc == 4 ? argv[3] : nullptr, &count);
        if (command == "count") {
            std::printf("%d\n", count);
            return 0;
        }
        if (count == 0) {
            return 1;
        }
        std::printf("0x%lx\n", last);
        return 0;
    }
    if (command == "geometry" && argc == 3) {
        int x = 0, y = 0, w = 0, h = 0;
        if (!Geometry(display, std::strtoul(argv[2], nullptr, 0), &x, &y, &w, &h)) {
            return 1;
        }
        std::printf("%d %d %d %d\n", x, y, w, h);
        return 0;
    }
    if (command == "prop" && argc == 4) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        const Atom atom = XInternAtom(display, argv[3], True);
        if (atom == None ||
            XGetWindowProperty(display, std::strtoul(argv[2], nullptr, 0), atom, 0, 4096, False,
                               AnyPropertyType, &type, &format, &items, &after, &data) != Success ||
            type == None) {
            return 1;
        }
        if (format == 8) {
            // A list of strings (WM_CLASS) comes one after another, each ended by a NUL.
            std::string text(reinterpret_cast<char*>(data), items);
            if (!text.empty() && text.back() == '\0') {
                text.pop_back();
            }
            std::replace(text.begin(), text.end(), '\0', ' ');
            std::printf("%s\n", text.c_str());
        } else if (format == 32) {
            const long* values = reinterpret_cast<const long*>(data);
            for (unsigned long i = 0; i < items; ++i) {
                std::printf(i == 0 ? "%ld" : " %ld", values[i]);
            }
            std::printf("\n");
        }
        XFree(data);
        return 0;
    }
    if (command == "top-at" && argc == 4) {
        const int px = std::atoi(argv[2]);
        const int py = std::atoi(argv[3]);
        std::string name;
        for (Window window : ViewableTopLevels(display)) {
            int x = 0, y = 0, w = 0, h = 0;
            if (Geometry(display, window, &x, &y, &w, &h) && px >= x && px < x + w && py >= y &&
                py < y + h) {
                name = WindowName(display, window);
            }
        }
        std::printf("%s\n", name.c_str());
        return 0;
    }
    if (command == "pixel" && argc == 4) {
        char rgb[8];
        if (!PixelRgb(display, std::atoi(argv[2]), std::atoi(argv[3]), rgb)) {
            return 1;
        }
        std::printf("%s\n", rgb);
        return 0;
    }
    if (command == "monitors") {
        return DefineMonitors(display, argc - 2, argv + 2);
    }
    if (command == "keys" && argc == 5) {
        return Keys(display, std::strtoul(argv[2], nullptr, 0), std::atoi(argv[3]),
                    std::atoi(argv[4]));
    }
    if (command == "close" && argc == 3) {
        const Window window = std::strtoul(argv[2], nullptr, 0);
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        XSync(display, False);
        return 0;
    }
    return Usage();
}
