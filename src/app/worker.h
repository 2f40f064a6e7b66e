#pragma once
// The calibration worker thread and the target sequence it runs.

#include <cstdint>

#include "common/shared_state.h"
#include "platform/display.h"

struct ControllerSession;

struct CalibrationHost {
    ControllerSession* session;
    bool (*showTarget)(CalibrationHost* host, std::uint32_t xBits, std::uint32_t yBits);
    WindowHandle window;
};

// Clears abortRequested and starts the detached worker; false when it could not be started.
bool StartCalibrationWorker(WindowHandle window);

// The worker's body: runs the sequence on currentSession and posts the result to the window.
void CalibrationWorker(WindowHandle* parameter);

// Posts "show target" to the host's window.
bool PostShowTarget(CalibrationHost* host, std::uint32_t xBits, std::uint32_t yBits);

// One calibration: prepare, begin, targets, computation, finish, cleanup. Returns 0, 1, 2 or 4.
CalibrationResult RunCalibrationSequence(CalibrationHost* host);
