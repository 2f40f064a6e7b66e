// The full-screen calibration window: class, procedure, target drawing and the message loop.

#include "common/shared_state.h"
#include "common/strings.h"
#include "app/session_driver.h"
#include "app/target_geometry.h"
#include "platform/display.h"
#include "platform/win32/app_instance.h"

#include <cstring>
#include <new>

struct CalibrationWindow {
    HWND hwnd;
};

namespace {

constexpr char kClassName[] = "QavelCalibHID";
constexpr WORD kInvisibleCursor = 101;
constexpr DWORD kWindowStyle = WS_POPUPWINDOW | WS_VISIBLE | WS_MAXIMIZE;  // 0x91880000
constexpr UINT kMsgShowTarget = WM_APP;
constexpr UINT kMsgCalibrationDone = WM_APP + 1;

// Touched by the main thread only; -1 in targetX alone means "no target".
float targetX = -1.0f;
float targetY = -1.0f;

// The done message has been dispatched: an ending from outside then has nothing to wait for.
bool doneSeen = false;

// What the shut-down screen shows while the ending outlasts the few seconds Windows waits.
constexpr wchar_t kEndingReason[] = L"Returning the touch screen to normal use";

HWND ToHwnd(WindowHandle window)
{
    return window->hwnd;
}

void SetTarget(HWND window, std::uint32_t xBits, std::uint32_t yBits)
{
    std::memcpy(&targetX, &xBits, sizeof targetX);
    std::memcpy(&targetY, &yBits, sizeof targetY);
    InvalidateRect(window, nullptr, FALSE);
}

void ClearTargetOf(HWND window)
{
    targetX = -1.0f;
    InvalidateRect(window, nullptr, FALSE);
}

void DrawTarget(HDC dc, const TargetGeometry& g, HBRUSH discBrush, HPEN thinPen, HPEN thickPen)
{
    HGDIOBJ previousPen = SelectObject(dc, thickPen);
    Arc(dc, g.left, g.top, g.right, g.bottom, g.left, g.midY, g.left, g.midY);

    HGDIOBJ previousBrush = SelectObject(dc, discBrush);
    SelectObject(dc, thinPen);
    Ellipse(dc, g.left + g.inset, g.top + g.inset, g.right - g.inset, g.bottom - g.inset);

    MoveToEx(dc, g.left, g.top, nullptr);
    LineTo(dc, g.right, g.bottom);
    MoveToEx(dc, g.left, g.bottom, nullptr);
    LineTo(dc, g.right, g.top);

    SelectObject(dc, thickPen);
    MoveToEx(dc, g.left, g.midY, nullptr);
    LineTo(dc, g.right, g.midY);
    MoveToEx(dc, g.midX, g.bottom, nullptr);
    LineTo(dc, g.midX, g.top);

    SelectObject(dc, previousBrush);
    SelectObject(dc, previousPen);
}

// dc is WM_PAINT's wParam: null for an ordinary paint, else a context to draw into while the
// update region stays in place.
LRESULT PaintTarget(HWND window, HDC dc)
{
    PAINTSTRUCT paint;
    RECT paintRect;
    const bool ownPaint = dc == nullptr;
    if (ownPaint) {
        dc = BeginPaint(window, &paint);
        paintRect = paint.rcPaint;
    } else if (!GetUpdateRect(window, &paintRect, FALSE)) {
        return 0;
    }

    HBRUSH whiteBrush = CreateSolidBrush(RGB(255, 255, 255));
    HBRUSH discBrush = CreateSolidBrush(targetColor.load());
    HPEN thinPen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HPEN thickPen = CreatePen(PS_SOLID, 3, RGB(0, 0, 0));

    FillRect(dc, &paintRect, whiteBrush);

    RECT client;
    GetClientRect(window, &client);
    TargetGeometry geometry;
    if (ComputeTargetGeometry(client.right, client.bottom, targetX, targetY, &geometry)) {
        DrawTarget(dc, geometry, discBrush, thinPen, thickPen);
    }

    DeleteObject(thickPen);
    DeleteObject(thinPen);
    DeleteObject(discBrush);
    DeleteObject(whiteBrush);
    if (ownPaint) {
        EndPaint(window, &paint);
    }
    return 0;
}

// The session ends: the process may be ended as soon as this returns, so the run ends here,
// as an abort does.
void EndWithSession(HWND window)
{
    ShutdownBlockReasonCreate(window, kEndingReason);
    EndRunFromOutside();
    ShutdownBlockReasonDestroy(window);
    // Where the process lives on (Wine), the loop ends and with it the program.
    PostQuitMessage(ResultUserAbort);
}

// Esc and close requests only raise the flag: the worker notices it and ends the run.
LRESULT CALLBACK CalibrationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
    case WM_DESTROY: return 0;
    case WM_PAINT: return PaintTarget(window, reinterpret_cast<HDC>(wParam));
    case WM_CLOSE: abortRequested.store(1); return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            abortRequested.store(1);
        }
        return 0;
    case kMsgShowTarget:
        ClearTargetOf(window);
        SetTarget(window, static_cast<std::uint32_t>(wParam), static_cast<std::uint32_t>(lParam));
        return 0;
    case kMsgCalibrationDone:
        doneSeen = true;
        PostQuitMessage(static_cast<int>(lParam));
        return 0;
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION:
        if (wParam != FALSE) {
            EndWithSession(window);
        }
        return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

WindowHandle CreateCalibrationWindow()
{
    char title[256];
    if (LoadStringA(appInstance, IDS_CAPTION, title, sizeof title) == 0) {
        return nullptr;
    }
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = CalibrationWindowProc;
    windowClass.hInstance = appInstance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(appInstance, MAKEINTRESOURCEA(kInvisibleCursor));
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kClassName;
    if (RegisterClassExA(&windowClass) == 0) {
        return nullptr;
    }
    HWND window = CreateWindowExA(0, kClassName, title, kWindowStyle, 0, 0, 256, 256, nullptr,
                                  nullptr, appInstance, nullptr);
    if (window == nullptr) {
        return nullptr;
    }
    auto* record = new (std::nothrow) CalibrationWindow{window};
    if (record == nullptr) {
        DestroyWindow(window);
    }
    return record;
}

void ClearTarget(WindowHandle window)
{
    ClearTargetOf(ToHwnd(window));
}

std::uint32_t PumpUntilQuit()
{
    for (;;) {
        MSG message;
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            // A calibration can wait minutes for a touch: sleep until a message arrives.
            WaitMessage();
            continue;
        }
        if (message.message == WM_QUIT) {
            return static_cast<std::uint32_t>(message.wParam);
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool WaitForCalibrationDoneMessage(std::uint32_t timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        // Only the done message is taken; messages sent from other threads are answered inside
        // the peek (the worker's notice may wait for one).
        if (doneSeen ||
            PeekMessageA(&message, nullptr, kMsgCalibrationDone, kMsgCalibrationDone, PM_REMOVE)) {
            doneSeen = true;
            return true;
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed,
                                  QS_POSTMESSAGE | QS_SENDMESSAGE);
    }
}

void DestroyCalibrationWindow(WindowHandle window)
{
    DestroyWindow(ToHwnd(window));
    delete window;
}

bool PostShowTargetMessage(WindowHandle window, std::uint32_t xBits, std::uint32_t yBits)
{
    return PostMessageA(ToHwnd(window), kMsgShowTarget, xBits, static_cast<LPARAM>(yBits)) != FALSE;
}

bool PostCalibrationDoneMessage(WindowHandle window, std::int32_t result)
{
    return PostMessageA(ToHwnd(window), kMsgCalibrationDone, 0, static_cast<LPARAM>(result)) !=
           FALSE;
}

void SystemBeep()
{
    MessageBeep(0xFFFFFFFF);
}
