// The outcome message box: modal on the main thread, with its own connection and event loop;
// and the diagnostic line that may go with it, on standard error.

#include "platform/display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <errno.h>
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/session_driver.h"
#include "platform/linux/message_format.h"
#include "platform/linux/outside_end.h"
#include "platform/x11/x_errors.h"
#include "platform/x11/x_util.h"

namespace {

constexpr int kMargin = 16;
constexpr int kIconSize = 32;
constexpr int kIconGap = 12;
constexpr int kMaxTextWidth = 480;
constexpr int kMinWidth = 220;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 26;

constexpr std::uint32_t kErrorRgb = 0xD32F2F;
constexpr std::uint32_t kInformationRgb = 0x1565C0;
constexpr std::uint32_t kButtonRgb = 0xE1E1E1;

struct Layout {
    int width;
    int height;
    int textX;
    int textY;
    int buttonX;
    int buttonY;
    std::vector<std::string> lines;
};

Layout ComputeLayout(XFontStruct* font, const std::string& text)
{
    int averageWidth = 0;
    int lineHeight = 0;
    int ascent = 0;
    FontMetrics(font, &averageWidth, &lineHeight, &ascent);
    Layout layout{};
    layout.lines = WrapText(font, text, kMaxTextWidth);
    int textWidth = 0;
    for (const std::string& line : layout.lines) {
        textWidth = std::max(textWidth, TextWidth(font, line));
    }
    const int textHeight = static_cast<int>(layout.lines.size()) * lineHeight;
    layout.textX = kMargin + kIconSize + kIconGap;
    layout.width = std::max(kMinWidth, layout.textX + textWidth + kMargin);
    const int bodyHeight = std::max(kIconSize, textHeight);
    layout.textY = kMargin + (bodyHeight - textHeight) / 2;
    layout.buttonX = (layout.width - kButtonWidth) / 2;
    layout.buttonY = kMargin + bodyHeight + kMargin;
    layout.height = layout.buttonY + kButtonHeight + kMargin;
    return layout;
}

void DrawIcon(Display* display, Window window, GC gc, MessageIcon icon)
{
    const bool error = icon == MessageIcon::Error;
    XSetForeground(display, gc, AllocRgb(display, error ? kErrorRgb : kInformationRgb));
    XFillArc(display, window, gc, kMargin, kMargin, kIconSize, kIconSize, 0, 360 * 64);
    XSetForeground(display, gc, WhitePixel(display, DefaultScreen(display)));
    const int c = kMargin + kIconSize / 2;
    if (error) {
        XSetLineAttributes(display, gc, 4, LineSolid, CapRound, JoinRound);
        XDrawLine(display, window, gc, c - 7, c - 7, c + 7, c + 7);
        XDrawLine(display, window, gc, c - 7, c + 7, c + 7, c - 7);
    } else {
        XFillArc(display, window, gc, c - 3, kMargin + 5, 6, 6, 0, 360 * 64);
        XFillRectangle(display, window, gc, c - 3, kMargin + 13, 6, 13);
    }
    XSetLineAttributes(display, gc, 1, LineSolid, CapButt, JoinMiter);
}

void Draw(Display* display, Window window, XFontStruct* font, const Layout& layout,
          MessageIcon icon, bool buttonPressed)
{
    int averageWidth = 0;
    int lineHeight = 0;
    int ascent = 0;
    FontMetrics(font, &averageWidth, &lineHeight, &ascent);
    GC gc = CreateTextGc(display, window, font);
    const unsigned long black = BlackPixel(display, DefaultScreen(display));
    XSetForeground(display, gc, AllocRgb(display, kFaceRgb));
    XFillRectangle(display, window, gc, 0, 0, static_cast<unsigned>(layout.width),
                   static_cast<unsigned>(layout.height));
    DrawIcon(display, window, gc, icon);

    XSetForeground(display, gc, black);
    int y = layout.textY + ascent;
    for (const std::string& line : layout.lines) {
        XDrawString(display, window, gc, layout.textX, y, line.c_str(),
                    static_cast<int>(line.size()));
        y += lineHeight;
    }

    XSetForeground(display, gc, AllocRgb(display, buttonPressed ? 0xCCCCCC : kButtonRgb));
    XFillRectangle(display, window, gc, layout.buttonX, layout.buttonY, kButtonWidth,
                   kButtonHeight);
    XSetForeground(display, gc, black);
    XDrawRectangle(display, window, gc, layout.buttonX, layout.buttonY, kButtonWidth - 1,
                   kButtonHeight - 1);
    const std::string ok = "OK";
    XDrawString(display, window, gc, layout.buttonX + (kButtonWidth - TextWidth(font, ok)) / 2,
                layout.buttonY + (kButtonHeight - lineHeight) / 2 + ascent, ok.c_str(), 2);
    XFreeGC(display, gc);
}

bool InButton(const Layout& layout, int x, int y)
{
    return x >= layout.buttonX && x < layout.buttonX + kButtonWidth && y >= layout.buttonY &&
           y < layout.buttonY + kButtonHeight;
}

// Readable back through the window system, so that scripts never have to guess what was shown.
void DescribeForReaders(Display* display, Window window, const std::string& text, MessageIcon icon,
                        const Layout& layout)
{
    SetStringProperty(display, window, "_QAVEL_MESSAGE_TEXT", text);
    SetStringProperty(display, window, "_QAVEL_MESSAGE_ICON",
                      icon == MessageIcon::Error ? "error" : "information");
    const long button[4] = {layout.buttonX, layout.buttonY, kButtonWidth, kButtonHeight};
    XChangeProperty(display, window, XInternAtom(display, "_QAVEL_MESSAGE_OK_BUTTON", False),
                    XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(button), 4);
}

void MarkAsDialog(Display* display, Window window)
{
    const Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
    const Atom dialog = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    XChangeProperty(display, window, type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&dialog), 1);
    const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
    const Atom states[2] = {XInternAtom(display, "_NET_WM_STATE_MODAL", False),
                            XInternAtom(display, "_NET_WM_STATE_ABOVE", False)};
    XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(states), 2);
}

}  // namespace

bool ShowMessageBox(const char* text, const char* caption, MessageIcon icon)
{
    std::string formatted;
    if (!FormatMessageText(text, &formatted)) {
        return false;
    }
    Display* display = OpenDisplayRetrying();
    if (display == nullptr) {
        return false;
    }
    const std::string title = caption != nullptr ? caption : "Error";
    XFontStruct* font = LoadDialogFont(display);
    const Layout layout = ComputeLayout(font, formatted);
    std::int32_t x = 0;
    std::int32_t y = 0;
    XSetWindowAttributes attributes{};
    attributes.event_mask =
        ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
    // A box the server refuses would leave the event loop below waiting for ever.
    BeginXErrorTrap(display);
    const Window window = CreateCentredFaceWindow(display, layout.width, layout.height, attributes,
                                                  CWEventMask, &x, &y);
    if (window == 0) {
        EndXErrorTrap(display);
        FreeFontAndCloseDisplay(display, font);
        return false;
    }
    XStoreName(display, window, title.c_str());
    XSizeHints hints{};
    hints.flags = PPosition | PMinSize | PMaxSize;
    hints.x = x;
    hints.y = y;
    hints.min_width = hints.max_width = layout.width;
    hints.min_height = hints.max_height = layout.height;
    XSetWMNormalHints(display, window, &hints);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    MarkAsDialog(display, window);
    DescribeForReaders(display, window, formatted, icon, layout);
    XMapRaised(display, window);
    if (EndXErrorTrap(display) != Success) {
        BeginXErrorTrap(display);
        XDestroyWindow(display, window);
        EndXErrorTrap(display);
        FreeFontAndCloseDisplay(display, font);
        return false;
    }
    if (WaitForWindowEvent(display, window, MapNotify, 5000)) {
        XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    }

    bool pressedInButton = false;
    bool done = false;
    while (!done) {
        if (OutsideEndRequested()) {
            EndRunFromOutside();
            break;
        }
        if (XPending(display) == 0) {
            pollfd descriptors[2] = {{ConnectionNumber(display), POLLIN, 0},
                                     {OutsideEndFd(), POLLIN, 0}};
            while (!DisplayLost() && poll(descriptors, 2, -1) < 0 && errno == EINTR) {
            }
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) {
                Draw(display, window, font, layout, icon, pressedInButton);
            }
            break;
        case KeyPress: {
            const KeySym key = XLookupKeysym(&event.xkey, 0);
            done = key == XK_Return || key == XK_KP_Enter || key == XK_space || key == XK_Escape;
            break;
        }
        case ButtonPress:
            if (event.xbutton.button == Button1) {
                pressedInButton = InButton(layout, event.xbutton.x, event.xbutton.y);
                Draw(display, window, font, layout, icon, pressedInButton);
            }
            break;
        case ButtonRelease:
            if (event.xbutton.button == Button1) {
                done = pressedInButton && InButton(layout, event.xbutton.x, event.xbutton.y);
                pressedInButton = false;
                Draw(display, window, font, layout, icon, false);
            }
            break;
        case ClientMessage:
            // The title bar's close box dismisses the box like OK.
            done = static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow;
            break;
        default: break;
        }
    }
    if (DisplayLost()) {
        return true;
    }
    NoteWindowGone(window);
    XDestroyWindow(display, window);
    FreeFontAndCloseDisplay(display, font);
    return true;
}

void WriteDiagnostic(const std::string& line)
{
    std::fprintf(stderr, "qavel: %s\n", line.c_str());
}
