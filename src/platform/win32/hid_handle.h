#pragma once
// The Windows handle behind an open device, and a device made from one (the guardian's, which
// it inherits).

#include <windows.h>

#include "platform/hid.h"

HANDLE HidNativeHandle(HidHandle device);

// Takes over the handle (HidClose closes it); null when no device can be made of it.
HidHandle HidAdopt(HANDLE handle);
