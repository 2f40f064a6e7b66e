#pragma once
// Calibration limits and orientation of the raw models, and their storage in the controller.

#include <cstdint>

#include "controller/session.h"

struct LinearizationGrid {
    double dx[25];  // node (i, j) is entry j * 5 + i, in output units
    double dy[25];
};

struct CalibrationLimits {
    std::int32_t xLow;
    std::int32_t xHigh;
    std::int32_t yLow;
    std::int32_t yHigh;
    std::uint8_t orientation;
};

// Completes P3 from P1 and P2 (slot 2) and counts it.
void DeriveThirdPoint(ControllerSession* session);

// Corrects a point on the output scale by the grid's bilinear offsets, truncated toward zero.
void CorrectByGrid(std::int32_t x, std::int32_t y, const LinearizationGrid& grid,
                   std::int32_t* outX, std::int32_t* outY);

// Orientation, limits by iteration, and clamping, from three points; false when they admit none.
bool ComputeCalibrationLimits(const std::int32_t (&x)[3], const std::int32_t (&y)[3],
                              const LinearizationGrid& grid, CalibrationLimits* out);

// Raw models: computes and writes the calibration page (0x0100 also clears its grid page).
// Other models: nonzero at once. Zero on any failure.
int ComputeAndStoreCalibration(ControllerSession* session);
