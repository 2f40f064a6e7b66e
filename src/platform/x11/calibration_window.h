#pragma once
// What the rest of the Linux layer may know about the calibration window.

// X identifier of the calibration window while it exists, else 0 (any thread).
unsigned long CalibrationWindowId();
