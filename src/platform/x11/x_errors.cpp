#include "platform/x11/x_errors.h"

#include <setjmp.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/linux/outside_end.h"

namespace {

struct Trap {
    Display* display;
    unsigned long firstSerial;
    int error;
};

struct OwnConnection {
    Display* display;
    bool broken;
};

std::mutex errorLock;
std::vector<Trap> traps;
std::vector<Window> goneWindows;
constexpr std::size_t kGoneKept = 64;
std::vector<OwnConnection> ownConnections;
// Set while this thread is inside XOpenDisplay (OpenConnection).
thread_local sigjmp_buf* openingJump = nullptr;
// Connections broken while being opened: closing one would meet the break again, and Xlib
// would end the process. Kept, unused, past the end (no destructor lets them go).
std::vector<Display*>* const halfOpened = new std::vector<Display*>;

enum class Verdict { Trapped, Expected, Unexpected };

Verdict Judge(const XErrorEvent* event)
{
    std::lock_guard<std::mutex> guard(errorLock);
    for (Trap& trap : traps) {
        if (trap.display == event->display && event->serial >= trap.firstSerial) {
            if (trap.error == Success) {
                trap.error = event->error_code;
            }
            return Verdict::Trapped;
        }
    }
    const bool aboutAWindow = event->error_code == BadWindow || event->error_code == BadDrawable;
    if (aboutAWindow &&
        std::find(goneWindows.begin(), goneWindows.end(), event->resourceid) != goneWindows.end()) {
        return Verdict::Expected;
    }
    return Verdict::Unexpected;
}

int HandleXError(Display* display, XErrorEvent* event)
{
    if (Judge(event) != Verdict::Unexpected) {
        return 0;
    }
    // Outside our lock: the text lookup is an Xlib call.
    char text[128] = "";
    XGetErrorText(display, event->error_code, text, sizeof text);
    std::fprintf(stderr, "qavel-calib: X error: %s (request %u.%u, resource 0x%lx)\n", text,
                 static_cast<unsigned>(event->request_code),
                 static_cast<unsigned>(event->minor_code), event->resourceid);
    return 0;
}

// Whether display is a connection of its own; marks its break.
bool BreakIsLocal(Display* display, bool* first)
{
    std::lock_guard<std::mutex> guard(errorLock);
    for (OwnConnection& own : ownConnections) {
        if (own.display == display) {
            *first = !own.broken;
            own.broken = true;
            return true;
        }
    }
    return false;
}

// Xlib calls both when a connection breaks, the first for every connection, and by default
// each ends the process. Returning from both makes the Xlib call return instead. The thread that
// met the break keeps that connection's lock for good, so no connection is shared between
// threads, and after the loss no thread uses X again. Of a connection of its own, only its
// user calls Xlib again: everything but closing it then returns at once.
int HandleBrokenConnection(Display* display)
{
    // XOpenDisplay asks the server things before the connection exists for KeepRunningWhenBroken,
    // so a server gone then would end the process: back to the opening, which gives up. Xlib has
    // let go of every lock but that connection's own.
    if (sigjmp_buf* jump = std::exchange(openingJump, nullptr)) {
        {
            std::lock_guard<std::mutex> guard(errorLock);
            halfOpened->push_back(display);
        }
        siglongjmp(*jump, 1);
    }
    bool first = false;
    if (BreakIsLocal(display, &first)) {
        if (first) {
            std::fprintf(stderr,
                         "qavel-calib: the notice or the message box lost its X connection\n");
        }
        return 0;
    }
    if (!DisplayLost()) {
        std::fprintf(stderr, "qavel-calib: the X display is gone; ending the run\n");
    }
    NoteDisplayLost();
    return 0;
}

void AfterBrokenConnection(Display*, void*) {}

}  // namespace

void InstallXErrorHandler()
{
    XSetErrorHandler(HandleXError);
    XSetIOErrorHandler(HandleBrokenConnection);
}

void KeepRunningWhenBroken(Display* display)
{
    XSetIOErrorExitHandler(display, AfterBrokenConnection, nullptr);
}

Display* OpenConnection()
{
    sigjmp_buf jump;
    Display* volatile display = nullptr;
    if (sigsetjmp(jump, 0) == 0) {
        openingJump = &jump;
        display = XOpenDisplay(nullptr);
    }
    openingJump = nullptr;
    if (display != nullptr) {
        KeepRunningWhenBroken(display);
    }
    return display;
}

void KeepBreakLocal(Display* display)
{
    std::lock_guard<std::mutex> guard(errorLock);
    ownConnections.push_back({display, false});
}

bool ConnectionBroken(Display* display)
{
    if (DisplayLost()) {
        return true;
    }
    std::lock_guard<std::mutex> guard(errorLock);
    for (const OwnConnection& own : ownConnections) {
        if (own.display == display) {
            return own.broken;
        }
    }
    return false;
}

void ForgetConnection(Display* display)
{
    std::lock_guard<std::mutex> guard(errorLock);
    ownConnections.erase(
        std::remove_if(ownConnections.begin(), ownConnections.end(),
                       [display](const OwnConnection& own) { return own.display == display; }),
        ownConnections.end());
}

void NoteWindowGone(Window window)
{
    if (window == 0) {
        return;
    }
    std::lock_guard<std::mutex> guard(errorLock);
    if (goneWindows.size() == kGoneKept) {
        goneWindows.erase(goneWindows.begin());
    }
    goneWindows.push_back(window);
}

void BeginXErrorTrap(Display* display)
{
    const unsigned long serial = NextRequest(display);
    std::lock_guard<std::mutex> guard(errorLock);
    traps.push_back({display, serial, Success});
}

int EndXErrorTrap(Display* display)
{
    XSync(display, False);
    std::lock_guard<std::mutex> guard(errorLock);
    int error = Success;
    for (auto it = traps.begin(); it != traps.end(); ++it) {
        if (it->display == display) {
            error = it->error;
            traps.erase(it);
            break;
        }
    }
    return error;
}
