// The Wayland "do not touch" notice: shown and closed by the calibration worker, which pumps no
// events in between. It is a popup of the calibration window, centred on it and above it, without
// a frame or a close box; the worker makes it on an event queue of its own, so that the main
// thread's loop never handles its events, and waits until the compositor has painted it.

#include <cstdint>

#include "platform/linux/display_backend.h"
#include "platform/linux/outside_end.h"
#include "platform/paint/notice_face.h"
#include "platform/wayland/calibration_window.h"
#include "platform/wayland/connection.h"
#include "platform/wayland/shm_buffer.h"
#include "platform/wayland/wayland_display.h"

namespace wayland {
namespace {

// The notice's configure and its first frame together: the worker must still end within its bound.
constexpr int kShowWaitMs = 3000;

struct WlNotice {
    wl_event_queue* queue = nullptr;
    wl_compositor* compositor = nullptr;  // wrappers of the globals on queue
    wl_shm* shm = nullptr;
    xdg_wm_base* wmBase = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_popup* popup = nullptr;
    wl_callback* frame = nullptr;
    SurfaceBuffers buffers;
    int width = 0;
    int height = 0;
    bool configured = false;
    bool painted = false;
};

// Touched by the worker thread only.
WlNotice noticeWindow;

template <typename T>
T* OnQueue(T* global, wl_event_queue* queue)
{
    T* wrapper = static_cast<T*>(wl_proxy_create_wrapper(global));
    if (wrapper != nullptr) {
        wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
    }
    return wrapper;
}

void SurfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial)
{
    xdg_surface_ack_configure(surface, serial);
    static_cast<WlNotice*>(data)->configured = true;
}

const xdg_surface_listener kSurfaceListener = {.configure = SurfaceConfigure};

void PopupConfigure(void* data, xdg_popup*, std::int32_t, std::int32_t, std::int32_t width,
                    std::int32_t height)
{
    WlNotice* notice = static_cast<WlNotice*>(data);
    if (width > 0 && height > 0) {
        notice->width = width;
        notice->height = height;
    }
}

void PopupDone(void*, xdg_popup*) {}

// xdg_wm_base is bound at version 2 at most: no repositioning comes.
const xdg_popup_listener kPopupListener = {.configure = PopupConfigure, .popup_done = PopupDone};

void FramePainted(void* data, wl_callback* callback, std::uint32_t)
{
    WlNotice* notice = static_cast<WlNotice*>(data);
    notice->painted = true;
    notice->frame = nullptr;
    wl_callback_destroy(callback);
}

const wl_callback_listener kFrameListener = {.done = FramePainted};

void Destroy(WlNotice* notice)
{
    if (notice->frame != nullptr) {
        wl_callback_destroy(notice->frame);
    }
    if (notice->popup != nullptr) {
        xdg_popup_destroy(notice->popup);
    }
    if (notice->xdgSurface != nullptr) {
        xdg_surface_destroy(notice->xdgSurface);
    }
    FreeSurfaceBuffers(&notice->buffers);
    if (notice->surface != nullptr) {
        wl_surface_destroy(notice->surface);
    }
    for (void* wrapper : {static_cast<void*>(notice->compositor), static_cast<void*>(notice->shm),
                          static_cast<void*>(notice->wmBase)}) {
        if (wrapper != nullptr) {
            wl_proxy_wrapper_destroy(wrapper);
        }
    }
    wl_display_flush(Wl().display);
    if (notice->queue != nullptr) {
        wl_event_queue_destroy(notice->queue);
    }
    *notice = WlNotice{};
}

}  // namespace

void ShowNotice(const char* caption, const char* text)
{
    xdg_surface* parent = nullptr;
    int parentWidth = 0;
    int parentHeight = 0;
    int scale = 1;
    if (noticeWindow.queue != nullptr ||
        !CalibrationWindowPlacement(&parent, &parentWidth, &parentHeight, &scale)) {
        return;
    }
    const std::int64_t deadline = MonotonicMs() + kShowWaitMs;
    const NoticeFace face = LayOutNotice(caption, text);
    WlNotice* notice = &noticeWindow;
    const Globals& wl = Wl();
    notice->queue = wl_display_create_queue(wl.display);
    notice->compositor = OnQueue(wl.compositor, notice->queue);
    notice->shm = OnQueue(wl.shm, notice->queue);
    notice->wmBase = OnQueue(wl.wmBase, notice->queue);
    if (notice->queue == nullptr || notice->compositor == nullptr || notice->shm == nullptr ||
        notice->wmBase == nullptr) {
        Destroy(notice);
        return;
    }
    notice->width = face.width;
    notice->height = face.height;
    notice->surface = wl_compositor_create_surface(notice->compositor);
    notice->xdgSurface = xdg_wm_base_get_xdg_surface(notice->wmBase, notice->surface);
    xdg_surface_add_listener(notice->xdgSurface, &kSurfaceListener, notice);
    // Centred on the full-screen window, so on its output; moved back onto it should it not fit.
    xdg_positioner* positioner = xdg_wm_base_create_positioner(notice->wmBase);
    xdg_positioner_set_size(positioner, face.width, face.height);
    xdg_positioner_set_anchor_rect(positioner, 0, 0, parentWidth > 0 ? parentWidth : 1,
                                   parentHeight > 0 ? parentHeight : 1);
    xdg_positioner_set_anchor(positioner, XDG_POSITIONER_ANCHOR_NONE);
    xdg_positioner_set_gravity(positioner, XDG_POSITIONER_GRAVITY_NONE);
    xdg_positioner_set_constraint_adjustment(positioner,
                                             XDG_POSITIONER_CONSTRAINT_ADJUSTMENT_SLIDE_X |
                                                 XDG_POSITIONER_CONSTRAINT_ADJUSTMENT_SLIDE_Y);
    notice->popup = xdg_surface_get_popup(notice->xdgSurface, parent, positioner);
    xdg_positioner_destroy(positioner);
    xdg_popup_add_listener(notice->popup, &kPopupListener, notice);
    wl_surface_commit(notice->surface);
    if (!DispatchUntil(notice->queue, &notice->configured, kShowWaitMs) || !notice->configured) {
        if (!DisplayLost()) {
            Destroy(notice);
        }
        return;
    }
    cairo_t* cr =
        BeginSurfacePaint(&notice->buffers, notice->shm, notice->width, notice->height, scale);
    if (cr != nullptr) {
        DrawNotice(cr, face, notice->width, notice->height);
        notice->frame = wl_surface_frame(notice->surface);
        wl_callback_add_listener(notice->frame, &kFrameListener, notice);
        EndSurfacePaint(&notice->buffers, notice->surface, cr);
    }
    GiveKeysToNotice(true);
    // Shown before the worker goes on: the compositor has painted it, or had the time to.
    const std::int64_t left = deadline - MonotonicMs();
    if (left > 0) {
        DispatchUntil(notice->queue, &notice->painted, static_cast<int>(left));
    }
}

void CloseNotice()
{
    if (noticeWindow.queue == nullptr) {
        return;
    }
    GiveKeysToNotice(false);
    if (DisplayLost()) {
        noticeWindow = WlNotice{};
        return;
    }
    Destroy(&noticeWindow);
}

}  // namespace wayland
