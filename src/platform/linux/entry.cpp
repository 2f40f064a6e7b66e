// The Linux program's entry.

#include <X11/Xlib.h>

#include "app/session_driver.h"
#include "platform/linux/outside_end.h"
#include "platform/linux/startup.h"
#include "platform/x11/x_errors.h"

int main(int argc, char** argv)
{
    if (AnswerInformationRequest(argc, argv)) {
        return 0;
    }
    XInitThreads();
    InstallXErrorHandler();
    // Without a display nothing could be shown, not even the outcome.
    if (!DisplayReachable()) {
        return 1;
    }
    const int code = RunProgram();
    EndAsSignalled();
    return code;
}
