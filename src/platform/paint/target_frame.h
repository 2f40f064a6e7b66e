#pragma once
// The calibration window's whole picture: white, and the target where its geometry puts it. One
// painter for every display, so that each shows the same pixels at the same size.

#include <cairo.h>

#include <cstdint>

// Paints width x height (in the units of cr, which a display may scale): the white fill, then
// the target at (targetX, targetY) with its disc in colorRef (0x00BBGGRR), drawn without
// antialiasing, as the line and ellipse rules of a classic window system draw it.
void PaintCalibrationFrame(cairo_t* cr, int width, int height, float targetX, float targetY,
                           std::uint32_t colorRef);
