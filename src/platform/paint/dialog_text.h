#pragma once
// The text of the notice and the message box, laid out and drawn by pango in the desktop's
// sans-serif face (fontconfig's choice), the same on every display. Sizes are in pixels at 96 dpi;
// a display that draws at a higher scale scales the cairo context, not the text.

#include <cairo.h>

#include <cstdint>
#include <string>

// The face colour of the notice and the message box, as 0xRRGGBB.
constexpr std::uint32_t kFaceRgb = 0xF0F0F0;

enum class TextAlign { Left, Centre };

struct TextSize {
    int width;
    int height;
};

// The dialog font's average character width (over the alphabet, as dialog units count it) and
// the height of one line.
void DialogFontMetrics(int* averageWidth, int* lineHeight);

// The size text takes when wrapped at wrapWidth (not wrapped when wrapWidth <= 0). Line breaks in
// the text are kept; a word wider than wrapWidth is broken.
TextSize MeasureDialogText(const std::string& text, int wrapWidth);

// Takes the slow first use of the dialog font now, on the calling thread: fontconfig's
// configuration, the font map, the face and its common glyphs.
void PrepareDialogText();

// Draws text as MeasureDialogText lays it out, its block's top-left corner at (x, y), in rgb
// (0xRRGGBB); with TextAlign::Centre each line is centred within wrapWidth.
void DrawDialogText(cairo_t* cr, const std::string& text, int x, int y, int wrapWidth,
                    TextAlign align, std::uint32_t rgb);

// Sets cr's source to rgb (0xRRGGBB).
void SetSourceRgb(cairo_t* cr, std::uint32_t rgb);
