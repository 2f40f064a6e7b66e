#pragma once
// What the Linux program settles before the run: the two requests it answers on its command line,
// and whether there is a display to run on.

// Prints the usage (--help) or the version (--version) on standard output when an argument asks
// for one (the first such argument counts) and returns true; every other argument is ignored.
bool AnswerInformationRequest(int argc, char** argv);

// Whether an X display can be opened; when not, one line on standard error says which one.
bool DisplayReachable();
