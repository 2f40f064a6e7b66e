#pragma once
// The mouse as the touch source of "touch-from pointer", read from the X server.

#include <cstdint>
#include <vector>

struct PointerSource;

struct PointerState {
    bool buttonDown;
    std::int32_t x;  // controller units
    std::int32_t y;
};

// Opens its own connection to $DISPLAY and, where the server has XInput 2.2, listens to every
// press and release of the first button; null when there is no display.
PointerSource* PointerSourceOpen();

// Every press and release of the first button since the last call, in order, then the present
// state; the positions are where the pointer is now, over the monitor the program's windows use
// (as it was when the source opened). False when the server cannot be asked.
bool PointerSourceRead(PointerSource* source, std::vector<PointerState>* states);
