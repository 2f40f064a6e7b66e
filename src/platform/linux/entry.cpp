// The Linux program's entry.

#include <X11/Xlib.h>

#include "app/session_driver.h"

namespace {

// A window that vanished between two connections' requests is no reason to end the run;
// the default handler would exit the process in the middle of a calibration.
int IgnoreProtocolError(Display*, XErrorEvent*)
{
    return 0;
}

}  // namespace

int main()
{
    XInitThreads();
    XSetErrorHandler(IgnoreProtocolError);
    return RunProgram();
}
