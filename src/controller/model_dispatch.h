#pragma once
// The six model-dependent steps of a calibration, selected by productId.
// The raw models' touches are taken by calibration/touch_capture: this dispatch is the one place
// where controller/ reaches into calibration/.

#include "controller/session.h"

bool PrepareCalibration(ControllerSession* session);
bool BeginCalibration(ControllerSession* session);
bool CaptureTouch(ControllerSession* session, int targetNumber);
bool NeedsThirdTarget(const ControllerSession* session);
void FinishCalibration(ControllerSession* session, bool success);
void CleanupCalibration(ControllerSession* session);
