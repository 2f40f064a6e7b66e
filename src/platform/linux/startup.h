#pragma once
// What the Linux program settles before the run: the two requests it answers on its command line,
// and the display it runs on.

// Prints the usage (--help) or the version (--version) on standard output when an argument asks
// for one (the first such argument counts) and returns true; every other argument is ignored.
bool AnswerInformationRequest(int argc, char** argv);

// Chooses the display: Wayland where WAYLAND_DISPLAY names a compositor that answers, else X11
// where DISPLAY names a server that does. False, with one line on standard error that says why
// for both, when neither can be used.
bool OpenDisplayAtStart();
