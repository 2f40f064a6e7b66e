#pragma once
// The program's one connection to the compositor: made at start and kept for the run. The
// calibration window and the message box use it on the main thread, on its default event queue;
// the worker's notice uses it on a queue of its own. The connection breaking (the compositor is
// gone) is noted as the display's loss (outside_end.h), and nothing of Wayland is used after it.

#include <poll.h>
#include <wayland-client.h>

#include <cstdint>
#include <vector>

#include "xdg-shell-client-protocol.h"

struct libdecor;

namespace wayland {

struct Globals {
    wl_display* display = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* wmBase = nullptr;
};

// The globals, bound once at start. Their proxies are the main thread's; the worker reaches them
// through wrappers on its own queue.
const Globals& Wl();

// Where a surface is shown, for the scale of its buffers: the highest integer scale of the
// outputs it is on, 1 before it is on any.
struct ScaledSurface {
    wl_surface* surface = nullptr;
    std::vector<wl_output*> outputs;
    bool scaleChanged = false;  // set when the scale may have changed
};
void WatchScale(ScaledSurface* watched);
void UnwatchScale(ScaledSurface* watched);  // before the surface is destroyed
int ScaleOf(const ScaledSurface& watched);

// Whether a window of this size, in surface units, covers an output its surface is on (any
// output before it is on one); true while no output's size is known. An output is measured at its
// integer scale, which under fractional scaling is no more than its logical size.
bool CoversItsOutput(const ScaledSurface& shown, int width, int height);

// The size of an output the compositor may put a full-screen window on, in surface units, for a
// compositor that leaves the size to the client; false when it named none.
bool SomeOutputSize(int* width, int* height);

// Input for the one surface that takes it at a time (the calibration window, then the message
// box); null for none. Positions are in surface units.
struct SurfaceInput {
    wl_surface* surface;
    bool hidePointer;
    void (*key)(void* data, std::uint32_t keysym);
    void (*press)(void* data, int x, int y);
    void (*release)(void* data, int x, int y);
    void* data;
};
void RouteInput(const SurfaceInput* input);

// Decorations for the message box's title bar: drawn by the compositor where it offers them,
// else by libdecor's plugin. Made on first use; null when it cannot be.
libdecor* Decorations();

// Main thread: handles the events already read; false once the display is gone.
bool DispatchPending();

// Main thread, while the message box is up: DispatchPending, with what libdecor's plugin does
// besides; false once the display is gone.
bool DispatchDecorated();

// The one wait every Wayland wait goes through: sends what is queued (a failed send is the
// display's loss), then sleeps until the compositor sends something for queue (null: the main
// thread's), one of the count fds (at most 3) is readable, a signal comes or timeoutMs pass (-1:
// no limit). What came is read, for the queue's next dispatch; false once the display is gone.
bool WaitOnDisplay(wl_event_queue* queue, pollfd* fds, int count, int timeoutMs);

// WaitOnDisplay on the main thread's queue, without a time limit.
void SleepOnDisplay(pollfd* fds, int count);

// Handles events of queue (null: the main thread's) until *done, timeoutMs have passed or the run
// is ended from outside (outside_end.h); false once the display is gone.
bool DispatchUntil(wl_event_queue* queue, const bool* done, int timeoutMs);

// Notes the loss after a failed call, when the connection is really broken: the display says so,
// or sendError (errno of a failed flush other than EAGAIN) is not 0.
void CheckConnection(int sendError = 0);

}  // namespace wayland
