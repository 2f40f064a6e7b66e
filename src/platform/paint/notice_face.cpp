#include "platform/paint/notice_face.h"

#include "platform/linux/window_math.h"
#include "platform/paint/dialog_text.h"

namespace {

// The whole client area and its one text control, in dialog units.
constexpr int kClientWidthDlu = 186;
constexpr int kClientHeightDlu = 50;
constexpr int kTextTopDlu = 7;
constexpr int kTextWidthDlu = 179;

constexpr std::uint32_t kCaptionRgb = 0x000080;
constexpr std::uint32_t kCaptionTextRgb = 0xFFFFFF;
constexpr std::uint32_t kTextRgb = 0x000000;
constexpr std::uint32_t kFrameRgb = 0x808080;
constexpr int kFrame = 1;
constexpr int kCaptionTextX = 4;

}  // namespace

NoticeFace LayOutNotice(const std::string& caption, const std::string& text)
{
    int averageWidth = 0;
    int lineHeight = 0;
    DialogFontMetrics(&averageWidth, &lineHeight);
    NoticeFace face{caption, text, 0, 0, 0, 0, 0};
    face.captionHeight = lineHeight + 6;
    face.width = DialogUnitsToPixelsX(kClientWidthDlu, averageWidth) + 2 * kFrame;
    face.height = face.captionHeight + DialogUnitsToPixelsY(kClientHeightDlu, lineHeight) + kFrame;
    face.textTop = face.captionHeight + DialogUnitsToPixelsY(kTextTopDlu, lineHeight);
    face.textWidth = DialogUnitsToPixelsX(kTextWidthDlu, averageWidth);
    return face;
}

void DrawNotice(cairo_t* cr, const NoticeFace& face, int width, int height)
{
    cairo_save(cr);
    SetSourceRgb(cr, kFaceRgb);
    cairo_paint(cr);
    cairo_translate(cr, CentreWithin(face.width, width), CentreWithin(face.height, height));
    SetSourceRgb(cr, kFrameRgb);
    cairo_set_line_width(cr, kFrame);
    cairo_rectangle(cr, kFrame / 2.0, kFrame / 2.0, face.width - kFrame, face.height - kFrame);
    cairo_stroke(cr);
    SetSourceRgb(cr, kCaptionRgb);
    cairo_rectangle(cr, 0, 0, face.width, face.captionHeight);
    cairo_fill(cr);
    const int lineHeight = MeasureDialogText(face.caption, 0).height;
    DrawDialogText(cr, face.caption, kCaptionTextX, (face.captionHeight - lineHeight) / 2, 0,
                   TextAlign::Left, kCaptionTextRgb);
    // Centred and wrapped within the text control, like a centred static text.
    DrawDialogText(cr, face.text, kFrame, face.textTop, face.textWidth, TextAlign::Centre,
                   kTextRgb);
    cairo_restore(cr);
}
