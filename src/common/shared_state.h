#pragma once
// Words shared between the main thread and the calibration worker, and the run's result codes.

#include <atomic>
#include <cstdint>

struct ControllerSession;

using CalibrationResult = std::int32_t;
constexpr CalibrationResult ResultSuccess = 0;
constexpr CalibrationResult ResultPrepareFailed = 1;
constexpr CalibrationResult ResultStartFailed = 2;
constexpr CalibrationResult ResultCannotStart = 3;
constexpr CalibrationResult ResultInvalidTouch = 4;
constexpr CalibrationResult ResultUserAbort = 5;

// COLORREF layout 0x00BBGGRR.
constexpr std::uint32_t kTargetGreen = 0x0000FF00;
constexpr std::uint32_t kTargetRed = 0x000000FF;

// Set by the window on Esc or a close request; polled by the worker's waiting loops.
extern std::atomic<std::int32_t> abortRequested;

// Fill colour of the target's disc; written by the worker before it posts the target.
extern std::atomic<std::uint32_t> targetColor;

// The opened controller of this run, or null.
extern ControllerSession* currentSession;
