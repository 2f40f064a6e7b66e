// The Linux program's entry.

#include <X11/Xlib.h>

#include "app/session_driver.h"
#include "platform/linux/outside_end.h"
#include "platform/linux/x_errors.h"

int main()
{
    XInitThreads();
    InstallXErrorHandler();
    const int code = RunProgram();
    EndAsSignalled();
    return code;
}
