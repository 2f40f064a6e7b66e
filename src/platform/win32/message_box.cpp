// The outcome message box, built with the system's message formatter; and the diagnostic line
// that may go with it, where the failed transfers go.

#include "platform/display.h"
#include <windows.h>

#include <string>

bool ShowMessageBox(const char* text, const char* caption, MessageIcon icon)
{
    char* formatted = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING, text, 0, 0,
                       reinterpret_cast<LPSTR>(&formatted), 0, nullptr);
    if (length == 0 || formatted == nullptr) {
        return false;
    }
    const UINT style =
        MB_OK | (icon == MessageIcon::Information ? MB_ICONINFORMATION : MB_ICONERROR);
    MessageBoxA(nullptr, formatted, caption, style);
    LocalFree(formatted);
    return true;
}

void WriteDiagnostic(const std::string& line)
{
    OutputDebugStringA(("qavel: " + line + "\n").c_str());
}
