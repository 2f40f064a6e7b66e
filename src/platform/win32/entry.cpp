// The graphical entry point: the command line and the show state are ignored.

#include "app/session_driver.h"
#include "platform/win32/app_instance.h"

HINSTANCE appInstance = nullptr;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    appInstance = instance;
    return RunProgram();
}
