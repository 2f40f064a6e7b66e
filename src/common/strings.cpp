#include "common/strings.h"

const char* FindTableString(std::uint32_t id)
{
    switch (id) {
    case IDS_CAPTION: return TEXT_CAPTION;
    case IDS_USER_ABORT: return TEXT_USER_ABORT;
    case IDS_CANNOT_OPEN_DRIVER: return TEXT_CANNOT_OPEN_DRIVER;
    case IDS_CANNOT_START: return TEXT_CANNOT_START;
    case IDS_CANNOT_WRITE: return TEXT_CANNOT_WRITE;
    case IDS_INVALID_TOUCH: return TEXT_INVALID_TOUCH;
    case IDS_SUCCESS: return TEXT_SUCCESS;
    case IDS_NO_CONTROLLER: return TEXT_NO_CONTROLLER;
    default: return nullptr;
    }
}
