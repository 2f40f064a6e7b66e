#pragma once
// Feature-report transfers with the fixed retry policy, and the numeric command reports.

#include <cstdint>

#include "controller/session.h"

constexpr std::uint8_t ModeBeginCalibration = 5;
constexpr std::uint8_t ModeEndCalibration = 7;
constexpr std::uint8_t ModeAsciiPrepare = 8;
constexpr std::uint8_t ModeAsciiCleanup = 10;

// At most 10 attempts, each after a 100 ms pause (counted from session->quietSinceUs as its
// quietMark allows); true at the first success. Each attempt marks its end.
bool SetFeatureRetry(ControllerSession* session, const std::uint8_t* buffer, std::uint32_t length);
bool GetFeatureRetry(ControllerSession* session, std::uint8_t* buffer, std::uint32_t length);

// The next transfer's pause counts from sinceUs (a MonotonicUs reading) while less than the pause
// has passed since.
void MarkQuietSince(ControllerSession* session, std::int64_t sinceUs);

// Report 3, command 5, byte 4 = mode.
bool SendModeCommand(ControllerSession* session, std::uint8_t mode);
// The report SendModeCommand sends, written into report.
void ModeCommandReport(std::uint8_t mode, std::uint8_t (&report)[8]);

// 0x0003: report 0x10 command 0x11. 0x0400: report 3 command 4, then 1000 ms. Others: false.
bool SendStartCommand(ControllerSession* session);

// Report 0x10 command 0x12.
bool SendStopCommand(ControllerSession* session);
