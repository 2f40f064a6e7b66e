#pragma once
// The process's X error handling. Errors arrive asynchronously and for every connection at once,
// so the handler tells them apart: an error inside a trap belongs to that trap; an error about a
// window known to be gone is expected and dropped; any other is reported on standard error, and
// the run goes on (ending the process would leave the controller in calibration). For the same
// reason a connection that breaks (the server is gone) does not end the process as Xlib would:
// the loss is noted (outside_end.h) and the run ends as an abort does. The notice and the message
// box have connections of their own, which a client killer can break alone: that ends only them.

#include <X11/Xlib.h>

// Installs the handlers; call once, after XInitThreads and before any connection is opened.
void InstallXErrorHandler();

// Keeps Xlib from ending the process when display's connection breaks; for every connection.
void KeepRunningWhenBroken(Display* display);

// XOpenDisplay(nullptr), kept running when broken; null also when the server goes while the
// connection is being made, where Xlib would end the process.
Display* OpenConnection();

// Makes display, just opened, a connection of its own: its break ends only what it shows, and the
// display is not taken for gone.
void KeepBreakLocal(Display* display);

// True once display may no longer be used: its own connection broke, or the display is gone.
bool ConnectionBroken(Display* display);

// Before a connection given to KeepBreakLocal is closed (also after its break, by its one user).
void ForgetConnection(Display* display);

// Records that window has been destroyed, so that late errors about it are dropped.
void NoteWindowGone(Window window);

// From now on, errors of display's requests are kept for the trap instead of being reported.
void BeginXErrorTrap(Display* display);

// Waits until the server has answered every request so far (XSync) and ends the trap. Returns
// the first error code caught, or Success (0) when the server refused nothing.
int EndXErrorTrap(Display* display);
