// The Wayland outcome message box: a toplevel on the program's connection, modal on the main
// thread with its own loop. libdecor gives it a title bar: the compositor's where it offers one,
// else one drawn beside the box. Its content is the shared message box face, centred in whatever
// size the compositor gives (a kiosk shows it full screen).

#include <libdecor.h>

#include "app/session_driver.h"
#include "platform/linux/outside_end.h"
#include "platform/paint/dialog_text.h"
#include "platform/paint/message_box_face.h"
#include "platform/wayland/connection.h"
#include "platform/wayland/shm_buffer.h"
#include "platform/wayland/wayland_display.h"

namespace wayland {
namespace {

constexpr int kConfigureWaitMs = 5000;

struct WlMessageBox {
    ScaledSurface shown;
    libdecor_frame* frame = nullptr;
    SurfaceBuffers buffers;
    MessageBoxView view{};
    bool configured = false;
    bool repaint = false;
    bool done = false;
};

void Configure(libdecor_frame* frame, libdecor_configuration* configuration, void* data)
{
    WlMessageBox* box = static_cast<WlMessageBox*>(data);
    int width = 0;
    int height = 0;
    if (!libdecor_configuration_get_content_size(configuration, frame, &width, &height) ||
        width <= 0 || height <= 0) {
        width = box->view.face.width;
        height = box->view.face.height;
    }
    libdecor_state* state = libdecor_state_new(width, height);
    libdecor_frame_commit(frame, state, configuration);
    libdecor_state_free(state);
    box->view.width = width;
    box->view.height = height;
    box->configured = true;
    box->repaint = true;
}

void Close(libdecor_frame*, void* data)
{
    // The title bar's close box dismisses the box like OK.
    static_cast<WlMessageBox*>(data)->done = true;
}

void Commit(libdecor_frame*, void* data)
{
    wl_surface_commit(static_cast<WlMessageBox*>(data)->shown.surface);
}

void DismissPopup(libdecor_frame*, const char*, void*) {}

libdecor_frame_interface kFrameInterface = {
    .configure = Configure, .close = Close, .commit = Commit, .dismiss_popup = DismissPopup};

void Key(void* data, std::uint32_t keysym)
{
    WlMessageBox* box = static_cast<WlMessageBox*>(data);
    box->done = box->done || KeyDismissesMessageBox(keysym);
}

void Press(void* data, int x, int y)
{
    WlMessageBox* box = static_cast<WlMessageBox*>(data);
    PressMessageBox(&box->view, x, y);
    box->repaint = true;
}

void Release(void* data, int x, int y)
{
    WlMessageBox* box = static_cast<WlMessageBox*>(data);
    box->done = ReleaseMessageBox(&box->view, x, y) || box->done;
    box->repaint = true;
}

void Paint(WlMessageBox* box)
{
    cairo_t* cr = BeginSurfacePaint(&box->buffers, Wl().shm, box->view.width, box->view.height,
                                    ScaleOf(box->shown));
    if (cr != nullptr) {
        DrawMessageBox(cr, box->view);
        EndSurfacePaint(&box->buffers, box->shown.surface, cr);
    }
}

void Destroy(WlMessageBox* box)
{
    RouteInput(nullptr);
    if (box->frame != nullptr) {
        libdecor_frame_unref(box->frame);
    }
    FreeSurfaceBuffers(&box->buffers);
    UnwatchScale(&box->shown);
    wl_surface_destroy(box->shown.surface);
    wl_display_flush(Wl().display);
}

}  // namespace

void PrepareMessageBox()
{
    PrepareDialogText();
    if (!DisplayLost()) {
        Decorations();
    }
}

bool ShowMessageBox(const std::string& text, const char* caption, MessageIcon icon)
{
    libdecor* decorations = DisplayLost() ? nullptr : Decorations();
    if (decorations == nullptr) {
        return false;
    }
    WlMessageBox box;
    box.view = MessageBoxView{LayOutMessageBox(text, icon), 0, 0, false};
    box.shown.surface = wl_compositor_create_surface(Wl().compositor);
    WatchScale(&box.shown);
    box.frame = libdecor_decorate(decorations, box.shown.surface, &kFrameInterface, &box);
    if (box.frame == nullptr) {
        Destroy(&box);
        return false;
    }
    libdecor_frame_set_title(box.frame, caption != nullptr ? caption : "Error");
    libdecor_frame_set_app_id(box.frame, "qavel-calib");
    libdecor_frame_set_min_content_size(box.frame, box.view.face.width, box.view.face.height);
    libdecor_frame_set_max_content_size(box.frame, box.view.face.width, box.view.face.height);
    libdecor_frame_unset_capabilities(
        box.frame,
        static_cast<libdecor_capabilities>(LIBDECOR_ACTION_RESIZE | LIBDECOR_ACTION_FULLSCREEN));
    libdecor_frame_map(box.frame);
    const SurfaceInput input = {box.shown.surface, false, Key, Press, Release, &box};
    RouteInput(&input);
    // A box the compositor never shows could never be dismissed.
    if (!DispatchUntil(nullptr, &box.configured, kConfigureWaitMs) || !box.configured) {
        if (DisplayLost()) {
            RouteInput(nullptr);
            UnwatchScale(&box.shown);
        } else {
            Destroy(&box);
        }
        return false;
    }
    while (!box.done) {
        if (OutsideEndRequested()) {
            EndRunFromOutside();
            break;
        }
        if (!DispatchDecorated()) {
            continue;
        }
        if (box.repaint || box.shown.scaleChanged) {
            box.repaint = false;
            box.shown.scaleChanged = false;
            Paint(&box);
        }
        if (!box.done) {
            pollfd descriptor{OutsideEndFd(), POLLIN, 0};
            SleepOnDisplay(&descriptor, 1);
        }
    }
    if (DisplayLost()) {
        RouteInput(nullptr);
        UnwatchScale(&box.shown);
    } else {
        Destroy(&box);
    }
    return true;
}

}  // namespace wayland
