#pragma once
// The message formatter's escapes for a text given without insert arguments.

#include <string>

// Expands "%%", "%n" (line break), "%0" (end of text, no line break), "%." "%!" "%space" (the
// character itself) and "%r" "%t" (carriage return, tab). An insert ("%1" to "%99") has no
// argument to take and fails, as does a "%" followed by anything else or by nothing.
bool FormatMessageText(const char* text, std::string* out);
