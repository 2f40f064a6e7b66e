#pragma once
// Endings asked for from outside the run: SIGTERM, SIGHUP, SIGINT and the loss of the X display.
// Each only notes itself and wakes the main thread through a descriptor its loops poll; the
// ending itself (EndRunFromOutside) runs there, never in a signal handler.

// From now on the three signals end the run that way instead of ending the process at once
// (a signal the program was started with ignored stays ignored). Main thread, before the
// calibration window exists; until then a signal ends the process, which has changed nothing.
void CatchOutsideEnds();

// Readable once an ending was asked for; -1 before CatchOutsideEnds (poll skips it).
int OutsideEndFd();

// True once a signal or the loss of the display asked for the ending. Any thread.
bool OutsideEndRequested();

// The X server is gone: from now on no thread uses X. Called by the I/O error handlers.
void NoteDisplayLost();
bool DisplayLost();

// After the run: one ended by a signal ends the process by that signal, so that whoever sent it
// sees the conventional status (128 + the signal). Returns only when no signal came.
void EndAsSignalled();
