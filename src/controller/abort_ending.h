#pragma once
// What the guardian is to send should the program die at a point of the run: the ending an abort
// of the model sends from there on, without the calibration page and without the closing's
// repetition of the raw models' end mode.

#include <cstdint>

#include "controller/session.h"
#include "platform/guardian.h"

enum class RunPoint {
    Calibrating,       // from just before the first mode change until the finish
    AsciiSaving,       // model 0x0300: "R" has been sent, the controller saves for a second
    Finished,          // the model's finish has been sent (0x0003: its last target accepted)
    AsciiCleanupSent,  // model 0x0300: the cleanup mode has been sent
    Left,              // the controller is out of calibration: nothing to send
};

GuardianPlan AbortEndingAt(std::uint32_t productId, RunPoint point);

// Hands the guardian the ending for this point of the session's run.
void GuardAt(const ControllerSession* session, RunPoint point);
