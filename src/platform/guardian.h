#pragma once
// The guardian seam: a watcher beside the program that, should the program die without saying
// that the controller has been left as it must be (SIGKILL, a crash, TerminateProcess), sends
// the ending an abort would send at that point, then closes the device and ends. It acts only
// once the program is gone, so the two never send at the same time. Defined once per platform.

#include <cstdint>

#include "platform/hid.h"

// One report to send, not before pauseMs after the previous step was sent (the first step: after
// the plan was armed), each attempt after the transport's own pause.
struct GuardianStep {
    std::uint32_t pauseMs;
    std::uint32_t length;  // 1..64, the id byte counted
    std::uint8_t report[64];
};

// What to send if the program dies now: count steps, in order; none sends nothing.
struct GuardianPlan {
    std::uint32_t count;
    GuardianStep steps[3];
};

// Starts the watcher for the opened device, with nothing to send yet; main thread, before the
// worker starts. False when it cannot be started: the run goes on without it.
bool GuardianStart(HidHandle device);

// From now on the watcher sends plan if the program dies. Without a watcher: nothing.
void GuardianArm(const GuardianPlan& plan);

// The controller has been left as it must be: the watcher ends at once and sends nothing.
void GuardianRelease();
