// The X11 display chosen at start: Xlib made ready for threads and for a server that goes away,
// and a first connection to see that the server answers. Every window then opens a connection
// of its own.

#include <X11/Xlib.h>

#include <cstdlib>

#include "platform/linux/display_backend.h"
#include "platform/x11/x11_display.h"
#include "platform/x11/x_errors.h"
#include "platform/x11/x_util.h"

namespace {

const DisplayBackend kX11Display = {
    x11::OpenWindow, x11::CloseWindow, x11::TakeEvents,     x11::PaintWindow,
    x11::Beep,       x11::Sleep,       x11::ShowMessageBox, x11::PrepareMessageBox,
    x11::ShowNotice, x11::CloseNotice,
};

}  // namespace

const DisplayBackend* ConnectX11(std::string* failure)
{
    static bool prepared = false;
    if (!prepared) {
        prepared = true;
        XInitThreads();
        InstallXErrorHandler();
    }
    if (Display* display = OpenDisplayRetrying()) {
        // A second connection would cost the start another exchange with the server.
        KeepStartConnection(display);
        return &kX11Display;
    }
    const char* name = XDisplayName(nullptr);
    if (name == nullptr || name[0] == '\0') {
        *failure = "DISPLAY is not set";
    } else {
        *failure = std::string("X display \"") + name + "\" does not answer";
    }
    return nullptr;
}
