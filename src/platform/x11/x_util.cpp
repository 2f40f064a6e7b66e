#include "platform/x11/x_util.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/linux/outside_end.h"
#include "platform/linux/window_math.h"
#include "platform/x11/x_errors.h"

std::int64_t MonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

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

}  // namespace

Display* OpenDisplayRetrying()
{
    constexpr int kAttempts = 10;
    constexpr long kPauseNs = 50L * 1000 * 1000;
    for (int attempt = 1;; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr)) {
            KeepRunningWhenBroken(display);
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

XFontStruct* LoadDialogFont(Display* display)
{
    const char* candidates[] = {"-misc-fixed-medium-r-semicondensed--13-*-*-*-*-*-iso8859-1",
                                "6x13", "fixed"};
    for (const char* name : candidates) {
        if (XFontStruct* font = XLoadQueryFont(display, name)) {
            return font;
        }
    }
    return nullptr;
}

void FontMetrics(XFontStruct* font, int* averageWidth, int* lineHeight, int* ascent)
{
    if (font == nullptr) {
        *averageWidth = 6;
        *lineHeight = 13;
        *ascent = 10;
        return;
    }
    // Windows averages the letters of the alphabet; do the same so dialog units match in kind.
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const int width = XTextWidth(font, kAlphabet, 52);
    *averageWidth = (width / 26 + 1) / 2;
    *lineHeight = font->ascent + font->descent;
    *ascent = font->ascent;
}

int TextWidth(XFontStruct* font, const std::string& text)
{
    if (font == nullptr) {
        return static_cast<int>(text.size()) * 6;
    }
    return XTextWidth(font, text.c_str(), static_cast<int>(text.size()));
}

std::vector<std::string> WrapText(XFontStruct* font, const std::string& text, int maxWidth)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string paragraph = text.substr(start, end - start);
        if (!paragraph.empty() && paragraph.back() == '\r') {
            paragraph.pop_back();
        }
        std::string line;
        std::size_t pos = 0;
        bool emitted = false;
        while (pos < paragraph.size()) {
            std::size_t wordEnd = paragraph.find(' ', pos);
            if (wordEnd == std::string::npos) {
                wordEnd = paragraph.size();
            }
            const std::string word = paragraph.substr(pos, wordEnd - pos);
            const std::string candidate = line.empty() ? word : line + " " + word;
            if (!line.empty() && TextWidth(font, candidate) > maxWidth) {
                lines.push_back(line);
                emitted = true;
                line = word;
            } else {
                line = candidate;
            }
            pos = wordEnd + 1;
        }
        if (!line.empty() || !emitted) {
            lines.push_back(line);
        }
        start = end + 1;
    }
    return lines;
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
        if (left <= 0 || DisplayLost()) {
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

GC CreateTextGc(Display* display, Drawable drawable, XFontStruct* font)
{
    GC gc = XCreateGC(display, drawable, 0, nullptr);
    if (font != nullptr) {
        XSetFont(display, gc, font->fid);
    }
    return gc;
}

Window CreateCentredFaceWindow(Display* display, int width, int height,
                               XSetWindowAttributes attributes, unsigned long valueMask,
                               std::int32_t* x, std::int32_t* y)
{
    const int screen = DefaultScreen(display);
    const ScreenRect monitor = ProgramMonitor(display);
    CenterOnDesktopOrigin(monitor.x, monitor.y, monitor.x + monitor.width, monitor.y + monitor.height,
                          width, height, x, y);
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

void FreeFontAndCloseDisplay(Display* display, XFontStruct* font)
{
    if (font != nullptr) {
        XFreeFont(display, font);
    }
    XCloseDisplay(display);
}
