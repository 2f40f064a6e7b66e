#pragma once
// What the rest of the Wayland display may know about the calibration window.

#include <cstdint>

struct xdg_surface;

namespace wayland {

// The window as the worker's notice places itself on it: its xdg surface, size (surface units)
// and scale. False while no window is up.
bool CalibrationWindowPlacement(xdg_surface** surface, int* width, int* height, int* scale);

// While the notice is up it has the keys, as a focused window would: the window ignores them.
void GiveKeysToNotice(bool noticeHasThem);

}  // namespace wayland
