#pragma once
// Taking one calibration touch: raw sampling (0x0100, 0x0102) or following progress (0x0003, 0x0400).

#include <cstdint>

#include "controller/session.h"

struct RawSample {
    bool present;
    bool touching;
    std::int32_t x;
    std::int32_t y;
};

// Decodes the two slots of an 8-byte report 8.
void DecodeRawReport(const std::uint8_t (&report)[8], RawSample* slot1, RawSample* slot2);

enum class ProgressVerdict { KeepPolling, Accepted, Failed };

// What the status models' progress byte says about target pointNumber (1 or 2); any other
// target fails on every value.
ProgressVerdict JudgeProgress(std::int8_t progress, int pointNumber);

// Samples report 8 until the finger lifts and stores the trimmed mean as the next point.
// Nonzero on success; zero on time-out, abort, a short or spread touch, or a full session.
int CaptureRawTouch(ControllerSession* session);

// Polls the model's progress report until target pointNumber (1 or 2) is accepted.
int WaitControllerStatus(ControllerSession* session, int pointNumber);
