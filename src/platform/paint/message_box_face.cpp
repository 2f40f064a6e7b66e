#include "platform/paint/message_box_face.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <numbers>

#include "platform/linux/window_math.h"
#include "platform/paint/dialog_text.h"

namespace {

constexpr int kMargin = 16;
constexpr int kIconSize = 32;
constexpr int kIconGap = 12;
constexpr int kMaxTextWidth = 480;
constexpr int kMinWidth = 220;

constexpr std::uint32_t kErrorRgb = 0xD32F2F;
constexpr std::uint32_t kInformationRgb = 0x1565C0;
constexpr std::uint32_t kButtonRgb = 0xE1E1E1;
constexpr std::uint32_t kPressedButtonRgb = 0xCCCCCC;
constexpr std::uint32_t kWhiteRgb = 0xFFFFFF;
constexpr std::uint32_t kBlackRgb = 0x000000;

void Origin(const MessageBoxView& view, int* x, int* y)
{
    *x = CentreWithin(view.face.width, view.width);
    *y = CentreWithin(view.face.height, view.height);
}

void DrawIcon(cairo_t* cr, MessageIcon icon)
{
    const bool error = icon == MessageIcon::Error;
    const double c = kMargin + kIconSize / 2.0;
    SetSourceRgb(cr, error ? kErrorRgb : kInformationRgb);
    cairo_arc(cr, c, c, kIconSize / 2.0, 0, 2 * std::numbers::pi);
    cairo_fill(cr);
    SetSourceRgb(cr, kWhiteRgb);
    if (error) {
        cairo_set_line_width(cr, 4);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_move_to(cr, c - 7, c - 7);
        cairo_line_to(cr, c + 7, c + 7);
        cairo_move_to(cr, c - 7, c + 7);
        cairo_line_to(cr, c + 7, c - 7);
        cairo_stroke(cr);
    } else {
        cairo_arc(cr, c, kMargin + 8, 3, 0, 2 * std::numbers::pi);
        cairo_fill(cr);
        cairo_rectangle(cr, c - 3, kMargin + 13, 6, 13);
        cairo_fill(cr);
    }
}

}  // namespace

MessageBoxFace LayOutMessageBox(const std::string& text, MessageIcon icon)
{
    MessageBoxFace face{text, icon, 0, 0, 0, 0, 0, 0, 0};
    const TextSize size = MeasureDialogText(text, kMaxTextWidth);
    face.textWidth = size.width;
    face.textX = kMargin + kIconSize + kIconGap;
    face.width = std::max(kMinWidth, face.textX + size.width + kMargin);
    const int bodyHeight = std::max(kIconSize, size.height);
    face.textY = kMargin + (bodyHeight - size.height) / 2;
    face.buttonX = (face.width - kOkButtonWidth) / 2;
    face.buttonY = kMargin + bodyHeight + kMargin;
    face.height = face.buttonY + kOkButtonHeight + kMargin;
    return face;
}

void DrawMessageBox(cairo_t* cr, const MessageBoxView& view)
{
    const MessageBoxFace& face = view.face;
    cairo_save(cr);
    SetSourceRgb(cr, kFaceRgb);
    cairo_paint(cr);
    int x = 0;
    int y = 0;
    Origin(view, &x, &y);
    cairo_translate(cr, x, y);
    DrawIcon(cr, face.icon);
    DrawDialogText(cr, face.text, face.textX, face.textY, kMaxTextWidth, TextAlign::Left,
                   kBlackRgb);

    SetSourceRgb(cr, view.pressed ? kPressedButtonRgb : kButtonRgb);
    cairo_rectangle(cr, face.buttonX, face.buttonY, kOkButtonWidth, kOkButtonHeight);
    cairo_fill(cr);
    SetSourceRgb(cr, kBlackRgb);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, face.buttonX + 0.5, face.buttonY + 0.5, kOkButtonWidth - 1,
                    kOkButtonHeight - 1);
    cairo_stroke(cr);
    const TextSize ok = MeasureDialogText("OK", 0);
    DrawDialogText(cr, "OK", face.buttonX + (kOkButtonWidth - ok.width) / 2,
                   face.buttonY + (kOkButtonHeight - ok.height) / 2, 0, TextAlign::Left, kBlackRgb);
    cairo_restore(cr);
}

void OkButtonRect(const MessageBoxView& view, int* x, int* y, int* width, int* height)
{
    Origin(view, x, y);
    *x += view.face.buttonX;
    *y += view.face.buttonY;
    *width = kOkButtonWidth;
    *height = kOkButtonHeight;
}

bool PressMessageBox(MessageBoxView* view, int x, int y)
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    OkButtonRect(*view, &left, &top, &width, &height);
    view->pressed = x >= left && x < left + width && y >= top && y < top + height;
    return view->pressed;
}

bool ReleaseMessageBox(MessageBoxView* view, int x, int y)
{
    const bool wasPressed = view->pressed;
    const bool onButton = PressMessageBox(view, x, y);
    view->pressed = false;
    return wasPressed && onButton;
}

bool KeyDismissesMessageBox(std::uint32_t keysym)
{
    return keysym == XKB_KEY_Return || keysym == XKB_KEY_KP_Enter || keysym == XKB_KEY_space ||
           keysym == XKB_KEY_Escape;
}
