// The "do not touch" notice: shown and closed by the calibration worker, which pumps no events in
// between, so it is drawn once, synchronously, and kept by the server's backing store.

#include "platform/display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string>

#include "platform/linux/window_math.h"
#include "platform/x11/calibration_window.h"
#include "platform/linux/outside_end.h"
#include "platform/x11/x_errors.h"
#include "platform/x11/x_util.h"

namespace {

// The notice's layout in dialog units: the whole client area and its one text control.
constexpr int kClientWidthDlu = 186;
constexpr int kClientHeightDlu = 50;
constexpr int kTextTopDlu = 7;
constexpr int kTextWidthDlu = 179;

constexpr std::uint32_t kCaptionRgb = 0x000080;
constexpr std::uint32_t kCaptionTextRgb = 0xFFFFFF;
constexpr std::uint32_t kTextRgb = 0x000000;
constexpr int kFrame = 1;
constexpr int kExposeWaitMs = 3000;

struct Notice {
    Display* display = nullptr;
    Window window = 0;
};

// Touched by the worker thread only.
Notice noticeWindow;

void DrawNotice(Display* display, Window window, XFontStruct* font, const std::string& caption,
                const std::string& text, int width, int captionHeight, int textTop, int textWidth)
{
    int averageWidth = 0;
    int lineHeight = 0;
    int ascent = 0;
    FontMetrics(font, &averageWidth, &lineHeight, &ascent);
    GC gc = CreateTextGc(display, window, font);
    XSetForeground(display, gc, AllocRgb(display, kCaptionRgb));
    XFillRectangle(display, window, gc, 0, 0, static_cast<unsigned>(width),
                   static_cast<unsigned>(captionHeight));
    XSetForeground(display, gc, AllocRgb(display, kCaptionTextRgb));
    XDrawString(display, window, gc, 4, (captionHeight - lineHeight) / 2 + ascent, caption.c_str(),
                static_cast<int>(caption.size()));

    // Centred and wrapped within the text control, like a centred static text.
    XSetForeground(display, gc, AllocRgb(display, kTextRgb));
    int y = textTop + ascent;
    for (const std::string& line : WrapText(font, text, textWidth)) {
        const int x = kFrame + (textWidth - TextWidth(font, line)) / 2;
        XDrawString(display, window, gc, x, y, line.c_str(), static_cast<int>(line.size()));
        y += lineHeight;
    }
    XFreeGC(display, gc);
}

}  // namespace

void ShowNotice(const char* caption, const char* text)
{
    // Without a server the save goes on unannounced, and at once.
    if (DisplayLost()) {
        return;
    }
    Display* display = OpenDisplayRetrying();
    if (display == nullptr) {
        return;
    }
    const std::string captionText = caption != nullptr ? caption : "";
    const std::string bodyText = text != nullptr ? text : "";
    XFontStruct* font = LoadDialogFont(display);
    int averageWidth = 0;
    int lineHeight = 0;
    int ascent = 0;
    FontMetrics(font, &averageWidth, &lineHeight, &ascent);

    const int clientWidth = DialogUnitsToPixelsX(kClientWidthDlu, averageWidth);
    const int clientHeight = DialogUnitsToPixelsY(kClientHeightDlu, lineHeight);
    const int captionHeight = lineHeight + 6;
    const int width = clientWidth + 2 * kFrame;
    const int height = captionHeight + clientHeight + kFrame;
    const int textTop = captionHeight + DialogUnitsToPixelsY(kTextTopDlu, lineHeight);
    const int textWidth = DialogUnitsToPixelsX(kTextWidthDlu, averageWidth);

    std::int32_t x = 0;
    std::int32_t y = 0;
    XSetWindowAttributes attributes{};
    attributes.border_pixel = BlackPixel(display, DefaultScreen(display));
    // No frame from a window manager (so no close box), and above the full-screen window.
    attributes.override_redirect = True;
    attributes.backing_store = Always;
    attributes.save_under = True;
    attributes.event_mask = ExposureMask | StructureNotifyMask;
    const Window window = CreateCentredFaceWindow(
        display, width, height, attributes,
        CWBorderPixel | CWOverrideRedirect | CWBackingStore | CWSaveUnder | CWEventMask, &x, &y);
    if (window == 0) {
        FreeFontAndCloseDisplay(display, font);
        return;
    }
    XMapRaised(display, window);
    const bool exposed = WaitForWindowEvent(display, window, Expose, kExposeWaitMs);
    DrawNotice(display, window, font, captionText, bodyText, width, captionHeight, textTop,
               textWidth);
    if (exposed) {
        XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    }
    // The caption comes last, once the notice is painted: whoever finds it by name sees it whole.
    XStoreName(display, window, captionText.c_str());
    if (font != nullptr) {
        XFreeFont(display, font);
    }
    XSync(display, False);
    noticeWindow.display = display;
    noticeWindow.window = window;
}

void CloseNotice()
{
    if (noticeWindow.display == nullptr) {
        return;
    }
    Display* display = noticeWindow.display;
    if (DisplayLost()) {
        noticeWindow = Notice{};
        return;
    }
    NoteWindowGone(noticeWindow.window);
    XDestroyWindow(display, noticeWindow.window);
    // The calibration window had the keys before the notice took them.
    const unsigned long calibration = CalibrationWindowId();
    if (calibration != 0) {
        XSetInputFocus(display, calibration, RevertToPointerRoot, CurrentTime);
    }
    XSync(display, False);
    XCloseDisplay(display);
    noticeWindow = Notice{};
}
