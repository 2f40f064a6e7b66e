// String resources, the outcome message box and the beep.

#include "platform/display.h"
#include "platform/win32/app_instance.h"

bool LoadStringResource(std::uint32_t id, char* buffer, int bufferSize)
{
    return LoadStringA(appInstance, id, buffer, bufferSize) > 0;
}

bool ShowMessageBox(const char* text, const char* caption, MessageIcon icon)
{
    char* formatted = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING, text, 0, 0,
                       reinterpret_cast<LPSTR>(&formatted), 0, nullptr);
    if (length == 0 || formatted == nullptr) {
        return false;
    }
    const UINT style = MB_OK | (icon == MessageIcon::Information ? MB_ICONINFORMATION : MB_ICONERROR);
    MessageBoxA(nullptr, formatted, caption, style);
    LocalFree(formatted);
    return true;
}

void SystemBeep()
{
    MessageBeep(0xFFFFFFFF);
}
