// The X11 "do not touch" notice: shown and closed by the calibration worker, which pumps no events
// in between, so it is drawn once, synchronously, and kept by the server's backing store.

#include "platform/x11/x11_display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string>

#include "platform/linux/outside_end.h"
#include "platform/paint/notice_face.h"
#include "platform/x11/calibration_window.h"
#include "platform/x11/x_errors.h"
#include "platform/x11/x_util.h"

namespace {

constexpr int kExposeWaitMs = 3000;

struct Notice {
    Display* display = nullptr;
    Window window = 0;
};

// Touched by the worker thread only.
Notice noticeWindow;

}  // namespace

namespace x11 {

void ShowNotice(const char* caption, const char* text)
{
    Display* display = OpenDisplayRetrying();
    if (display == nullptr) {
        return;
    }
    // Killing the notice's client must not end the run: the save goes on without it.
    KeepBreakLocal(display);
    const NoticeFace face = LayOutNotice(caption, text);
    std::int32_t x = 0;
    std::int32_t y = 0;
    XSetWindowAttributes attributes{};
    // No frame from a window manager (so no close box), and above the full-screen window.
    attributes.override_redirect = True;
    attributes.backing_store = Always;
    attributes.save_under = True;
    attributes.event_mask = ExposureMask | StructureNotifyMask;
    const Window window = CreateCentredFaceWindow(
        display, face.width, face.height, attributes,
        CWOverrideRedirect | CWBackingStore | CWSaveUnder | CWEventMask, &x, &y);
    if (window == 0) {
        CloseConnection(display);
        return;
    }
    XMapRaised(display, window);
    const bool exposed = WaitForWindowEvent(display, window, Expose, kExposeWaitMs);
    cairo_t* cr = BeginWindowPaint(face.width, face.height);
    DrawNotice(cr, face, face.width, face.height);
    EndWindowPaint(display, window, cr);
    if (exposed) {
        XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    }
    // The caption comes last, once the notice is painted: whoever finds it by name sees it whole.
    XStoreName(display, window, face.caption.c_str());
    XSync(display, False);
    noticeWindow.display = display;
    noticeWindow.window = window;
}

void CloseNotice()
{
    if (noticeWindow.display == nullptr) {
        return;
    }
    Display* display = noticeWindow.display;
    const Window window = noticeWindow.window;
    noticeWindow = Notice{};
    if (DisplayLost()) {
        ForgetConnection(display);
        return;
    }
    // A notice whose connection broke is gone already, window and all.
    if (!ConnectionBroken(display)) {
        NoteWindowGone(window);
        XDestroyWindow(display, window);
        // The calibration window had the keys before the notice took them.
        const unsigned long calibration = CalibrationWindowId();
        if (calibration != 0) {
            XSetInputFocus(display, calibration, RevertToPointerRoot, CurrentTime);
        }
        XSync(display, False);
    }
    CloseConnection(display);
}

}  // namespace x11
