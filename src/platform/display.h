#pragma once
// Display seam: the calibration window, the notice, the beep and the outcome message box.

#include <cstdint>

struct CalibrationWindow;
using WindowHandle = CalibrationWindow*;

// --- main thread ---

// Creates and shows the full-screen calibration window titled with string 1001; null on failure.
WindowHandle CreateCalibrationWindow();

// Removes any target and has the whole window repainted.
void ClearTarget(WindowHandle window);

// Dispatches the main thread's messages until the done message arrives; returns its result.
std::uint32_t PumpUntilQuit();

void DestroyCalibrationWindow(WindowHandle window);

// Copies string `id` of the string table into buffer (NUL-terminated); false when it is missing.
bool LoadStringResource(std::uint32_t id, char* buffer, int bufferSize);

enum class MessageIcon { Information, Error };

// Formats text with the system's message formatter and shows a modal box with an OK button.
// A null caption means the system's default caption ("Error"). False when formatting failed
// (then nothing was shown). Returns once the user has dismissed the box.
bool ShowMessageBox(const char* text, const char* caption, MessageIcon icon);

// --- calibration worker thread ---

// Queues "show target" with the bit patterns of the normalized coordinates; false if not queued.
bool PostShowTargetMessage(WindowHandle window, std::uint32_t xBits, std::uint32_t yBits);

// Queues "calibration done" with the run's result; the window then ends PumpUntilQuit with it.
bool PostCalibrationDoneMessage(WindowHandle window, std::int32_t result);

// The system's simple beep.
void SystemBeep();

// Shows the centred, topmost "do not touch" notice with the given caption and text.
void ShowNotice(const char* caption, const char* text);

// Destroys the notice of the latest ShowNotice, if one was created.
void CloseNotice();
