#pragma once
// The mouse as the touch source of "touch-from pointer": read from the X server on demand.

#include <cstdint>

struct PointerSource;

// Opens its own connection to $DISPLAY; null when there is none.
PointerSource* PointerSourceOpen();

// The first button's state and the pointer's position in controller units; false when the
// server cannot be asked.
bool PointerSourceRead(PointerSource* source, bool* buttonDown, std::int32_t* x, std::int32_t* y);
