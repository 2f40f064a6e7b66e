#pragma once
// A display seam that draws nothing and records every visible event with its virtual time.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct RecordingDisplayOptions {
    bool failWindow = false;                    // the calibration window cannot be created
    std::uint32_t windowTakesMs = 0;            // virtual time the window takes to appear
    std::uint32_t postTakesMs = 0;              // virtual time the worker takes to post a target
    bool failFormat = false;                    // the message formatter fails
    std::vector<std::uint32_t> missingStrings;  // ids the string table lacks
    std::FILE* echo = nullptr;                  // also print each event here as it happens
};

// Forgets everything recorded and applies the options.
void RecordingDisplayReset(const RecordingDisplayOptions& options = {});

// "<ms> target <x> <y> <green|red>", "<ms> beep", "<ms> notice "<caption>" "<text>"",
// "<ms> notice closed", "<ms> window shown", "<ms> window closed", "<ms> diagnostic <line>", in
// order.
std::vector<std::string> RecordedEvents();

// `message <information|error> "<caption>" "<text>"` (caption "Error" for the system default),
// or `message none` while no message box was shown. More than one box shows as several lines.
std::vector<std::string> RecordedMessages();

bool CalibrationWindowEverCreated();

// What the window does on Esc and on a close request: raise abortRequested while it is open.
void PressEscape();
void RequestClose();

// The run is to end from outside (the session ends, a signal) while the window is open: the
// message loop hands it to EndRunFromOutside. Its wait for the worker is bounded on the virtual
// clock.
void RequestOutsideEnd();
