#pragma once
// The guardian's side of the program: the same executable, started by the program with a
// command line that names the pipe and the device handle it inherited.

// True when this process was started as the program's guardian (the command line names two
// inherited handles that check out: a pipe and a supported controller): it then watches, and
// has done so by the time it returns. False for every other command line.
bool RunAsGuardian(const char* commandLine);
