#pragma once
// The hidraw descriptor behind an open handle, for the guardian that inherits it.

#include "platform/hid.h"

// -1 when the handle is not open.
int HidrawDescriptor(HidHandle device);
