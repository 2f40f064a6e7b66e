// String resources on Windows come from the program's own string table.

#include "platform/display.h"
#include "platform/win32/app_instance.h"

bool LoadStringResource(std::uint32_t id, char* buffer, int bufferSize)
{
    return LoadStringA(appInstance, id, buffer, bufferSize) > 0;
}
