// The graphical entry point: the show state is ignored, and so is the command line, but for the
// one the program gives its own guardian.

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
    return RunProgram();
}
