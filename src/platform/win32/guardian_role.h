#pragma once
// The guardian's side of the program: the same executable, started by the program with a
// command line that names the pipe and the device handle it inherited.

// True when this process was started as the program's guardian (the command line names an
// inherited pipe and a device handle): it then watches, if the handle is a supported controller,
// and has done so by the time it returns. False for every other command line.
bool RunAsGuardian(const char* commandLine);
