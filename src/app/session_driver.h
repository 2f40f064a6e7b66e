#pragma once
// The program from start to end on the main thread, and the outcome message.

#include <cstdint>
#include <string>

// Opens the controller, runs one session (or reports that none was found), closes it. Returns 0.
int RunProgram();

// Window, worker, message loop, outcome message. Only called with a controller open.
void RunSession();

// The string identifier shown for a result code, compared as unsigned.
std::uint32_t MessageForResult(std::uint32_t code);

// Loads caption 1001 and string stringId and shows them, with addedLine (where given) as a line
// of its own below the string; shows nothing when either string is missing.
void ShowOutcomeMessage(std::uint32_t stringId, const std::string& addedLine = {});

// The run is to end from outside (the session ends, a signal, the display is gone): called on the
// main thread from inside the platform's loop. It ends the run as Esc does, with a bounded wait
// for the worker's normal ending, then closes the controller; no window is destroyed and no
// message shown afterwards, and RunProgram returns as soon as the loop does. Once per run.
void EndRunFromOutside();
