// String resources on Linux come from the table compiled into the core.

#include "common/strings.h"
#include "platform/display.h"

#include <algorithm>
#include <cstring>

bool LoadStringResource(std::uint32_t id, char* buffer, int bufferSize)
{
    if (buffer == nullptr || bufferSize <= 0) {
        return false;
    }
    const char* text = FindTableString(id);
    if (text == nullptr) {
        buffer[0] = '\0';
        return false;
    }
    // Truncates like LoadString: the buffer always ends with a NUL.
    const std::size_t capacity = static_cast<std::size_t>(bufferSize) - 1;
    const std::size_t length = std::min(std::strlen(text), capacity);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return length > 0;
}
