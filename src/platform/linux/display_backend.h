#pragma once
// What a display (X11, Wayland) gives the rest of the Linux layer. Each display's folder fills one
// of these; the one chosen at start serves the whole run, and the functions of display.h reach it
// through ChosenDisplay. The calibration window's queue of the worker's posts, its target and the
// main loop are the Linux layer's own (display.cpp), the same for both.

#include <poll.h>

#include <cstdint>
#include <string>

#include "platform/display.h"

struct DisplayBackend {
    // --- main thread: the one full-screen calibration window ---
    // Opens it, white, titled title, with no visible pointer; false (nothing left open) when the
    // display refuses it.
    bool (*openWindow)(const char* title);
    void (*closeWindow)();
    // Handles what the display has sent so far, without waiting. Esc and a close request store
    // abortRequested; a broken connection is noted (outside_end.h). True when the window must be
    // painted again.
    bool (*takeEvents)();
    // Paints the window white with the target at (targetX, targetY) (targetX -1: none).
    void (*paintWindow)(float targetX, float targetY);
    void (*beep)();
    // Sends what is queued, then sleeps until the display or one of the count fds has something.
    void (*sleep)(pollfd* fds, int count);

    // --- main thread: the outcome box with its own loop; text is already formatted ---
    bool (*showMessageBox)(const std::string& text, const char* caption, MessageIcon icon);
    // Takes the box's slow first steps (fonts, text layout, what the display needs for a new
    // window) ahead, so that the box shows at once when the result comes. Called at most once.
    void (*prepareMessageBox)();

    // --- calibration worker thread ---
    void (*showNotice)(const char* caption, const char* text);
    void (*closeNotice)();
};

// Each display: connects (and lets go again, for a display whose windows each have a connection
// of their own) and returns its functions, or null with why in failure ("... is not set", ...).
const DisplayBackend* ConnectWayland(std::string* failure);
const DisplayBackend* ConnectX11(std::string* failure);

// The display the program runs on; null until one is chosen.
const DisplayBackend* ChosenDisplay();
void ChooseDisplay(const DisplayBackend* display);

// Sleeps until displayFd or one of the count fds (at most 3) is readable, or one of them is
// broken; a signal does not cut it short. True when displayFd was among them.
bool PollWith(int displayFd, const pollfd* fds, int count);

// Milliseconds of the monotonic clock, for the display's own time limits.
std::int64_t MonotonicMs();
