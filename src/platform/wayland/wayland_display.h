#pragma once
// The Wayland display's functions for display_backend.h, one file for each job as on X11:
// calibration_window.cpp, message_box.cpp, notice.cpp; connection.cpp hands them out.

#include <poll.h>

#include <string>

#include "platform/display.h"

namespace wayland {

bool OpenWindow(const char* title);
void CloseWindow();
bool TakeEvents();
void PaintWindow(float targetX, float targetY);
void Beep();
void Sleep(pollfd* fds, int count);
bool ShowMessageBox(const std::string& text, const char* caption, MessageIcon icon);
void PrepareMessageBox();
void ShowNotice(const char* caption, const char* text);
void CloseNotice();

}  // namespace wayland
