#pragma once
// The "do not touch" notice's content, the same on every display: a caption bar and the text
// centred and wrapped within its text control, sized in dialog units of the dialog font. Where a
// window system gives the notice another size, the content stays centred in it.

#include <cairo.h>

#include <string>

struct NoticeFace {
    std::string caption;
    std::string text;
    int width;  // the size the notice asks for
    int height;
    int captionHeight;
    int textTop;
    int textWidth;
};

NoticeFace LayOutNotice(const std::string& caption, const std::string& text);

// Fills the whole width x height on the face colour and draws the face centred on it.
void DrawNotice(cairo_t* cr, const NoticeFace& face, int width, int height);
