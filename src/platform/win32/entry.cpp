// The graphical entry point: the show state is ignored, and so is the command line, but for the
// one the program gives its own guardian.

#include <windows.h>

#include <timeapi.h>

#include "app/session_driver.h"
#include "platform/win32/app_instance.h"
#include "platform/win32/guardian_role.h"

HINSTANCE appInstance = nullptr;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    if (RunAsGuardian(commandLine)) {
        return 0;
    }
    appInstance = instance;
    // Waits end on the system's timer tick, 15.6 ms by default: each of a run's pauses of 100 ms
    // and more would run late by up to a tick.
    const bool fineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
    const int code = RunProgram();
    if (fineTimer) {
        timeEndPeriod(1);
    }
    return code;
}
