// The X11 outcome message box: modal on the main thread, with its own connection and event loop.
// Its content is the shared message box face, centred in whatever size the window manager gives.

#include "platform/x11/x11_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <errno.h>
#include <poll.h>

#include <utility>

#include "app/session_driver.h"
#include "platform/linux/display_backend.h"
#include "platform/linux/outside_end.h"
#include "platform/paint/dialog_text.h"
#include "platform/paint/message_box_face.h"
#include "platform/x11/x_errors.h"
#include "platform/x11/x_util.h"

namespace {

// Opened ahead by PrepareMessageBox, on the main thread as the box.
Display* preparedConnection = nullptr;

void Draw(Display* display, Window window, const MessageBoxView& view)
{
    cairo_t* cr = BeginWindowPaint(view.width, view.height);
    DrawMessageBox(cr, view);
    EndWindowPaint(display, window, cr);
}

// Where OK is, readable back through the window system, as the text and the icon are.
void DescribeOkButton(Display* display, Window window, const MessageBoxView& view)
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    OkButtonRect(view, &x, &y, &width, &height);
    const long button[4] = {x, y, width, height};
    XChangeProperty(display, window, XInternAtom(display, "_QAVEL_MESSAGE_OK_BUTTON", False),
                    XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(button), 4);
}

// Readable back through the window system, so that scripts never have to guess what was shown.
void DescribeForReaders(Display* display, Window window, const MessageBoxView& view)
{
    SetStringProperty(display, window, "_QAVEL_MESSAGE_TEXT", view.face.text);
    SetStringProperty(display, window, "_QAVEL_MESSAGE_ICON",
                      view.face.icon == MessageIcon::Error ? "error" : "information");
    DescribeOkButton(display, window, view);
}

void MarkAsDialog(Display* display, Window window)
{
    const Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
    const Atom dialog = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    XChangeProperty(display, window, type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&dialog), 1);
    const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
    const Atom states[2] = {XInternAtom(display, "_NET_WM_STATE_MODAL", False),
                            XInternAtom(display, "_NET_WM_STATE_ABOVE", False)};
    XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(states), 2);
}

}  // namespace

namespace x11 {

void PrepareMessageBox()
{
    PrepareDialogText();
    // One attempt: a server that does not answer now is given its retries when the box is due.
    if (preparedConnection == nullptr) {
        preparedConnection = OpenConnection();
        if (preparedConnection != nullptr) {
            KeepBreakLocal(preparedConnection);
        }
    }
}

bool ShowMessageBox(const std::string& text, const char* caption, MessageIcon icon)
{
    Display* display = std::exchange(preparedConnection, nullptr);
    if (display == nullptr) {
        // Without a controller the connection that found the display is still unused.
        display = TakeStartConnection();
        if (display == nullptr) {
            display = OpenDisplayRetrying();
        }
        if (display == nullptr) {
            return false;
        }
        KeepBreakLocal(display);
    }
    const std::string title = caption != nullptr ? caption : "Error";
    MessageBoxView view{LayOutMessageBox(text, icon), 0, 0, false};
    view.width = view.face.width;
    view.height = view.face.height;
    std::int32_t x = 0;
    std::int32_t y = 0;
    XSetWindowAttributes attributes{};
    attributes.event_mask =
        ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
    // A box the server refuses would leave the event loop below waiting for ever.
    BeginXErrorTrap(display);
    const Window window =
        CreateCentredFaceWindow(display, view.width, view.height, attributes, CWEventMask, &x, &y);
    if (window == 0) {
        EndXErrorTrap(display);
        CloseConnection(display);
        return false;
    }
    XStoreName(display, window, title.c_str());
    XSizeHints hints{};
    hints.flags = PPosition | PMinSize | PMaxSize;
    hints.x = x;
    hints.y = y;
    hints.min_width = hints.max_width = view.width;
    hints.min_height = hints.max_height = view.height;
    XSetWMNormalHints(display, window, &hints);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    MarkAsDialog(display, window);
    DescribeForReaders(display, window, view);
    XMapRaised(display, window);
    if (EndXErrorTrap(display) != Success) {
        BeginXErrorTrap(display);
        XDestroyWindow(display, window);
        EndXErrorTrap(display);
        CloseConnection(display);
        return false;
    }
    if (WaitForWindowEvent(display, window, MapNotify, 5000)) {
        XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    }

    bool done = false;
    bool shown = true;
    while (!done) {
        if (OutsideEndRequested()) {
            EndRunFromOutside();
            break;
        }
        // Its client killed: nobody can dismiss the box any more, as if it had not been shown.
        if (ConnectionBroken(display)) {
            shown = false;
            break;
        }
        if (XPending(display) == 0) {
            pollfd descriptor{OutsideEndFd(), POLLIN, 0};
            if (!ConnectionBroken(display)) {
                PollWith(ConnectionNumber(display), &descriptor, 1);
            }
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) {
                Draw(display, window, view);
            }
            break;
        case ConfigureNotify:
            // A window manager that sizes every window its way: the content stays centred.
            if (event.xconfigure.width != view.width || event.xconfigure.height != view.height) {
                view.width = event.xconfigure.width;
                view.height = event.xconfigure.height;
                DescribeOkButton(display, window, view);
                Draw(display, window, view);
            }
            break;
        case KeyPress: done = KeyDismissesMessageBox(XLookupKeysym(&event.xkey, 0)); break;
        case ButtonPress:
            if (event.xbutton.button == Button1) {
                PressMessageBox(&view, event.xbutton.x, event.xbutton.y);
                Draw(display, window, view);
            }
            break;
        case ButtonRelease:
            if (event.xbutton.button == Button1) {
                done = ReleaseMessageBox(&view, event.xbutton.x, event.xbutton.y);
                Draw(display, window, view);
            }
            break;
        case ClientMessage:
            // The title bar's close box dismisses the box like OK.
            done = static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow;
            break;
        default: break;
        }
    }
    if (DisplayLost()) {
        return true;
    }
    if (shown) {
        NoteWindowGone(window);
        XDestroyWindow(display, window);
    }
    CloseConnection(display);
    return shown;
}

}  // namespace x11
