#pragma once
// The raw models' controller pages: selected through report 3, read and written whole as report 5.

#include "calibration/calibration_math.h"
#include "controller/session.h"

// Reads the linearization page (model 0x0102) into grid offsets in output units. False when a
// transfer fails or the answer does not come under report 5.
bool ReadLinearizationGrid(ControllerSession* session, LinearizationGrid* grid);

// Reads the calibration page, replaces the program's fields with the limits and writes it back;
// every other byte stays as read, and the header is the program's. False, with nothing written,
// when the read fails or its answer does not come under report 5.
bool StoreCalibrationPage(ControllerSession* session, const CalibrationLimits& limits);

// Writes an all-zero linearization page (model 0x0100 after its calibration is stored).
bool ClearLinearizationPage(ControllerSession* session);
