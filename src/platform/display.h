#pragma once
// Display seam: the calibration window, the notice, the beep and the outcome message box.
// Each backend defines every function here and its own struct CalibrationWindow. In return it
// may use from the core, and only this:
// - abortRequested (common/shared_state.h): stored as 1 on Esc or on a close request of the
//   calibration window, and nothing else; the window stays up until the run ends.
// - targetColor (same header): read, as 0x00BBGGRR, each time the target's disc is painted.
// - ComputeTargetGeometry (app/target_geometry.h): where the target is drawn; nothing but the
//   white fill when it returns false.
// - FindTableString (common/strings.h): the string table, where the platform has no resources.
// - RunProgram (app/session_driver.h): the whole program, called once by the entry point.
// - EndRunFromOutside (same header): called on the main thread, from inside PumpUntilQuit (or
//   ShowMessageBox, where the box's loop is the backend's own), when the run is to end from
//   outside it: the session ends, a signal asks the process to end, the display is gone. The loop
//   returns as soon as it is back (its value is then unused); a display that is gone is not used
//   again by either thread.

#include <cstdint>
#include <string>

struct CalibrationWindow;
using WindowHandle = CalibrationWindow*;

// --- main thread ---

// Creates and shows the full-screen white calibration window titled with string 1001, with an
// invisible pointer and no target; null on failure.
WindowHandle CreateCalibrationWindow();

// Removes any target and has the whole window repainted.
void ClearTarget(WindowHandle window);

// Dispatches the main thread's messages (painting, Esc, close requests, the worker's posts)
// until the done message arrives; returns the result it carried. An ending from outside is
// handed to EndRunFromOutside, and the loop then returns.
std::uint32_t PumpUntilQuit();

// Only inside EndRunFromOutside: waits at most timeoutMs for the worker's done message (true) or
// not (false), also when the loop has already taken it. Nothing is painted meanwhile; what other
// threads send to the main thread is still answered.
bool WaitForCalibrationDoneMessage(std::uint32_t timeoutMs);

// Destroys the window; the handle is invalid afterwards.
void DestroyCalibrationWindow(WindowHandle window);

// Copies string `id` of the string table into buffer (NUL-terminated); false when it is missing.
bool LoadStringResource(std::uint32_t id, char* buffer, int bufferSize);

enum class MessageIcon { Information, Error };

// Formats text with the system's message formatter and shows a modal box with an OK button.
// A null caption means the system's default caption ("Error"). False when nothing could be
// shown (formatting failed, the box was refused) or the box was lost before it was dismissed.
// Returns once the user has dismissed the box, or, where the box's loop is the backend's own,
// after handing an ending from outside to EndRunFromOutside.
bool ShowMessageBox(const char* text, const char* caption, MessageIcon icon);

// One line for whoever reads the program's diagnostics: standard error on Linux, the debugger's
// output on Windows, as the failed transfers.
void WriteDiagnostic(const std::string& line);

// --- calibration worker thread (these never wait for the main thread) ---

// Queues "show target" with the bit patterns of the normalized floats (copied bit for bit, x == -1
// meaning no target); the main thread repaints with it. False if not queued.
bool PostShowTargetMessage(WindowHandle window, std::uint32_t xBits, std::uint32_t yBits);

// Queues "calibration done" with the run's result; the window then ends PumpUntilQuit with it.
bool PostCalibrationDoneMessage(WindowHandle window, std::int32_t result);

// The system's simple beep.
void SystemBeep();

// Shows the centred, topmost "do not touch" notice with the given caption and text, painted
// before it returns: the worker pumps no messages until CloseNotice. Shows nothing on failure.
void ShowNotice(const char* caption, const char* text);

// Destroys the notice of the latest ShowNotice, if one was created.
void CloseNotice();
