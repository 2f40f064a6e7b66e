// The "do not touch" notice, created and destroyed on the calibration worker thread.

#include "platform/display.h"
#include "platform/win32/app_instance.h"

namespace {

constexpr WORD kNoticeTemplate = 106;
constexpr int kNoticeTextControl = 1000;
// Enough for what queues up while the notice appears; a bound so that a message that keeps
// coming back cannot hold up the save.
constexpr int kMaxPendingMessages = 64;

HWND noticeWindow = nullptr;

void CenterOnDesktop(HWND window)
{
    RECT own;
    GetWindowRect(window, &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    const int x = desktop.left + ((desktop.right - desktop.left) - width) / 2;
    const int y = desktop.top + ((desktop.bottom - desktop.top) - height) / 2;
    MoveWindow(window, x, y, width, height, FALSE);
}

INT_PTR CALLBACK NoticeDialogProc(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        CenterOnDesktop(dialog);
        SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetFocus(dialog);
        return TRUE;
    }
    return FALSE;
}

// Handles what is already queued for the notice, once. Under Wine, drawing reaches the screen
// when a thread of the process looks for messages and finds none; EndPaint passes it on only if
// no thread did so in the last 50 ms. This thread is about to sleep: the peek that ends this loop
// is the look that shows the text.
void ProcessPendingMessages(HWND window)
{
    MSG message;
    for (int i = 0; i < kMaxPendingMessages; ++i) {
        if (!PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
            return;
        }
        DispatchMessageA(&message);
    }
}

}  // namespace

void ShowNotice(const char* caption, const char* text)
{
    noticeWindow = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(kNoticeTemplate), nullptr,
                                      NoticeDialogProc, 0);
    if (noticeWindow != nullptr) {
        SetDlgItemTextA(noticeWindow, kNoticeTextControl, text);
        SetWindowTextA(noticeWindow, caption);
        // This thread pumps no messages while the controller saves, so WM_PAINT would never
        // come: paint the notice and its text now.
        RedrawWindow(noticeWindow, nullptr, nullptr,
                     RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
        ProcessPendingMessages(noticeWindow);
    }
}

void CloseNotice()
{
    if (noticeWindow != nullptr) {
        DestroyWindow(noticeWindow);
        noticeWindow = nullptr;
    }
}
