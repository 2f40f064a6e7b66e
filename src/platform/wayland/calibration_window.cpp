// The Wayland calibration window: an xdg toplevel asked to be full screen on the output the
// compositor picks, its events, its painting at the output's scale, and the beep. The main loop
// and the worker's posts are the Linux layer's (display.cpp).

#include "platform/wayland/calibration_window.h"

#include <canberra.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <atomic>
#include <cstdio>

#include "common/shared_state.h"
#include "platform/linux/display_backend.h"
#include "platform/linux/loaded_library.h"
#include "platform/linux/outside_end.h"
#include "platform/paint/target_frame.h"
#include "platform/wayland/connection.h"
#include "platform/wayland/shm_buffer.h"
#include "platform/wayland/wayland_display.h"

namespace wayland {
namespace {

constexpr int kConfigureWaitMs = 5000;
// How long a window taken out of full screen may take to come back for good before the run ends.
constexpr int kCoverWaitMs = 2000;
constexpr const char* kAppId = "qavel-calib";

// Main thread only, but for what the worker's notice reads (the atomics).
struct WlCalibrationWindow {
    ScaledSurface shown;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    SurfaceBuffers buffers;
    int width = 0;  // as configured, in surface units
    int height = 0;
    int pendingWidth = 0;
    int pendingHeight = 0;
    bool configured = false;
    bool repaint = false;
    // Targets are drawn at fractions of the window, which mean points of the screen only while
    // the window covers its output.
    bool covers = true;
    std::int64_t coveredSince = 0;
    std::int64_t troubleSince = -1;  // the first loss not yet followed by kCoverWaitMs covered
    bool gaveUp = false;
};

WlCalibrationWindow theWindow;
std::atomic<xdg_surface*> publishedSurface{nullptr};
std::atomic<int> publishedWidth{0};
std::atomic<int> publishedHeight{0};
std::atomic<int> publishedScale{1};
std::atomic<bool> keysWithNotice{false};

void Publish(const WlCalibrationWindow& w)
{
    publishedWidth.store(w.width);
    publishedHeight.store(w.height);
    publishedScale.store(ScaleOf(w.shown));
    publishedSurface.store(w.xdgSurface);
}

void SurfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial)
{
    WlCalibrationWindow* w = static_cast<WlCalibrationWindow*>(data);
    xdg_surface_ack_configure(surface, serial);
    int width = w->pendingWidth;
    int height = w->pendingHeight;
    // A compositor that leaves the size to the client: the size so far, else an output's.
    if (width <= 0 || height <= 0) {
        width = w->width;
        height = w->height;
    }
    if ((width <= 0 || height <= 0) && !SomeOutputSize(&width, &height)) {
        width = 1024;
        height = 768;
    }
    w->width = width;
    w->height = height;
    w->configured = true;
    w->repaint = true;
}

// Looks again whether the window covers its output: when it stops, the target goes and full
// screen is asked for once more. A window taken out again and again counts from its first loss,
// so TakeEvents ends the run unless it comes back to stay.
void CheckCover(WlCalibrationWindow* w)
{
    const bool covers = CoversItsOutput(w->shown, w->width, w->height);
    if (covers == w->covers) {
        return;
    }
    const std::int64_t now = MonotonicMs();
    w->covers = covers;
    w->repaint = true;
    if (covers) {
        w->coveredSince = now;
        return;
    }
    if (w->troubleSince < 0 || now - w->coveredSince >= kCoverWaitMs) {
        w->troubleSince = now;
    }
    xdg_toplevel_set_fullscreen(w->toplevel, nullptr);
}

const xdg_surface_listener kSurfaceListener = {.configure = SurfaceConfigure};

void ToplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                       wl_array*)
{
    WlCalibrationWindow* w = static_cast<WlCalibrationWindow*>(data);
    w->pendingWidth = width;
    w->pendingHeight = height;
}

void ToplevelClose(void*, xdg_toplevel*)
{
    // Only the worker's result ends the run; the window stays.
    abortRequested.store(1);
}

// xdg_wm_base is bound at version 2 at most: no bounds or capabilities come.
const xdg_toplevel_listener kToplevelListener = {.configure = ToplevelConfigure,
                                                 .close = ToplevelClose};

void Key(void*, std::uint32_t keysym)
{
    // Every other key is swallowed.
    if (keysym == XKB_KEY_Escape && !keysWithNotice.load()) {
        abortRequested.store(1);
    }
}

SurfaceInput input = {nullptr, true, Key, nullptr, nullptr, nullptr};

// libcanberra is loaded at the first beep, not with the program: its six libraries would delay
// every start by about half a millisecond.
struct Sound {
    decltype(&ca_context_create) create;
    decltype(&ca_context_set_driver) setDriver;
    decltype(&ca_context_change_props) changeProps;
    decltype(&ca_context_play) play;
    decltype(&ca_context_destroy) destroy;
    ca_context* context;
};

// Null where no sound can be made.
const Sound* Sounds()
{
    static bool tried = false;
    static Sound sound{};
    if (!tried) {
        tried = true;
        void* library = dlopen("libcanberra.so.0", RTLD_NOW | RTLD_LOCAL);
        Sound* s = &sound;
        if (library == nullptr || !FindCall(library, "ca_context_create", &s->create) ||
            !FindCall(library, "ca_context_set_driver", &s->setDriver) ||
            !FindCall(library, "ca_context_change_props", &s->changeProps) ||
            !FindCall(library, "ca_context_play", &s->play) ||
            !FindCall(library, "ca_context_destroy", &s->destroy)) {
            return nullptr;
        }
        // The desktop's sound server only: played straight on a sound card the bell would take
        // the card from it, or fill standard error with ALSA's complaints where there is none.
        if (s->create(&s->context) != CA_SUCCESS) {
            s->context = nullptr;
        } else if (s->setDriver(s->context, "pulse") != CA_SUCCESS) {
            s->destroy(s->context);
            s->context = nullptr;
        } else {
            s->changeProps(s->context, CA_PROP_APPLICATION_NAME, "qavel-calib",
                           CA_PROP_APPLICATION_ID, kAppId, nullptr);
        }
    }
    return sound.context != nullptr ? &sound : nullptr;
}

}  // namespace

bool CalibrationWindowPlacement(xdg_surface** surface, int* width, int* height, int* scale)
{
    *surface = publishedSurface.load();
    *width = publishedWidth.load();
    *height = publishedHeight.load();
    *scale = publishedScale.load();
    return *surface != nullptr;
}

void GiveKeysToNotice(bool noticeHasThem)
{
    keysWithNotice.store(noticeHasThem);
}

bool OpenWindow(const char* title)
{
    WlCalibrationWindow* w = &theWindow;
    const Globals& wl = Wl();
    w->shown.surface = wl_compositor_create_surface(wl.compositor);
    WatchScale(&w->shown);
    w->xdgSurface = xdg_wm_base_get_xdg_surface(wl.wmBase, w->shown.surface);
    xdg_surface_add_listener(w->xdgSurface, &kSurfaceListener, w);
    w->toplevel = xdg_surface_get_toplevel(w->xdgSurface);
    xdg_toplevel_add_listener(w->toplevel, &kToplevelListener, w);
    xdg_toplevel_set_title(w->toplevel, title);
    xdg_toplevel_set_app_id(w->toplevel, kAppId);
    xdg_toplevel_set_fullscreen(w->toplevel, nullptr);
    wl_surface_commit(w->shown.surface);
    input.surface = w->shown.surface;
    RouteInput(&input);
    // The compositor answers with the size it gives; a window never configured cannot be shown.
    if (!DispatchUntil(nullptr, &w->configured, kConfigureWaitMs) || !w->configured) {
        if (!DisplayLost()) {
            CloseWindow();
        }
        return false;
    }
    CheckCover(w);
    Publish(*w);
    return true;
}

void CloseWindow()
{
    WlCalibrationWindow* w = &theWindow;
    publishedSurface.store(nullptr);
    RouteInput(nullptr);
    if (w->toplevel != nullptr) {
        xdg_toplevel_destroy(w->toplevel);
    }
    if (w->xdgSurface != nullptr) {
        xdg_surface_destroy(w->xdgSurface);
    }
    FreeSurfaceBuffers(&w->buffers);
    if (w->shown.surface != nullptr) {
        UnwatchScale(&w->shown);
        wl_surface_destroy(w->shown.surface);
    }
    wl_display_flush(Wl().display);
    *w = WlCalibrationWindow{};
}

bool TakeEvents()
{
    WlCalibrationWindow* w = &theWindow;
    DispatchPending();
    if (w->configured) {
        CheckCover(w);
    }
    if (!w->covers && !w->gaveUp && MonotonicMs() - w->troubleSince >= kCoverWaitMs) {
        w->gaveUp = true;
        std::fprintf(stderr,
                     "qavel-calib: the calibration window no longer covers the screen and the "
                     "compositor does not make it full screen again; ending the run\n");
        abortRequested.store(1);
    }
    const bool repaint = w->repaint || w->shown.scaleChanged;
    w->repaint = false;
    w->shown.scaleChanged = false;
    if (repaint) {
        Publish(*w);
    }
    return repaint;
}

void PaintWindow(float targetX, float targetY)
{
    WlCalibrationWindow* w = &theWindow;
    cairo_t* cr = BeginSurfacePaint(&w->buffers, Wl().shm, w->width, w->height, ScaleOf(w->shown));
    if (cr == nullptr) {
        return;
    }
    PaintCalibrationFrame(cr, w->width, w->height, w->covers ? targetX : -1.0f, targetY,
                          targetColor.load(std::memory_order_acquire));
    EndSurfacePaint(&w->buffers, w->shown.surface, cr);
}

void Beep()
{
    // The desktop's event sound where a sound server and a sound theme are there; else silence.
    if (const Sound* sound = Sounds()) {
        sound->play(sound->context, 0, CA_PROP_EVENT_ID, "bell", CA_PROP_EVENT_DESCRIPTION,
                    "Touch taken", nullptr);
    }
}

void Sleep(pollfd* fds, int count)
{
    WlCalibrationWindow* w = &theWindow;
    // Woken when a window out of full screen has had its time to come back.
    int timeoutMs = -1;
    if (!w->covers && !w->gaveUp) {
        const std::int64_t left = w->troubleSince + kCoverWaitMs - MonotonicMs();
        timeoutMs = left > 0 ? static_cast<int>(left) : 0;
    }
    WaitOnDisplay(nullptr, fds, count, timeoutMs);
}

}  // namespace wayland
