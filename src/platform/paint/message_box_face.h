#pragma once
// The outcome message box's content, the same on every display: its layout (icon, wrapped text,
// OK button), its drawing, and what dismisses it. A window system may give the box another size
// than the one asked for (a kiosk shows every window full screen): the content then stays
// centred in what it was given.

#include <cairo.h>

#include <cstdint>
#include <string>

#include "platform/display.h"

struct MessageBoxFace {
    std::string text;
    MessageIcon icon;
    int width;  // the size the box asks for
    int height;
    int textX;
    int textY;
    int textWidth;
    int buttonX;
    int buttonY;
};

// The box as shown: its face in a window of width x height, and whether OK is held down.
struct MessageBoxView {
    MessageBoxFace face;
    int width;
    int height;
    bool pressed;
};

constexpr int kOkButtonWidth = 88;
constexpr int kOkButtonHeight = 26;

// Lays text out beside the icon, wrapped at a fixed width, above a centred OK button.
MessageBoxFace LayOutMessageBox(const std::string& text, MessageIcon icon);

// Fills the whole width x height on the face colour and draws the face centred on it.
void DrawMessageBox(cairo_t* cr, const MessageBoxView& view);

// The OK button's rectangle in window coordinates.
void OkButtonRect(const MessageBoxView& view, int* x, int* y, int* width, int* height);

// A press at (x, y), in window coordinates: true when it went to OK (to be drawn held down).
bool PressMessageBox(MessageBoxView* view, int x, int y);

// The release of a press: true when it dismisses the box (pressed and released on OK).
bool ReleaseMessageBox(MessageBoxView* view, int x, int y);

// Enter, Space and Esc dismiss the box. keysym as X11 and xkbcommon number keys alike.
bool KeyDismissesMessageBox(std::uint32_t keysym);
