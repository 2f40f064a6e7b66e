// Window inspector for the Wine tests. It runs in the program's Wine prefix and desktop, so it
// sees the program's windows as the window system holds them. Prints key=value lines.
//
//   qavel-inspect message [seconds]     waits for a message box; prints caption, text, icon and
//                                       whether a calibration window was seen meanwhile
//   qavel-inspect press-ok              presses OK in the message box
//   qavel-inspect close-calibration     sends a close request to the calibration window
//   qavel-inspect terminate-calibration ends the calibration window's process (TerminateProcess)
//   qavel-inspect notice [seconds]      waits for the notice with its texts set; prints caption,
//                                       text, geometry and z-order, then "closed=yes" once it is gone
//   qavel-inspect windows               lists visible top-level windows
// "--desktop NAME" first: work on that Wine virtual desktop (the program's), not our own.
// Exit code 0 when the window was found and the action done, 1 otherwise.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kCalibrationClass[] = "QavelCalibHID";
constexpr char kDialogClass[] = "#32770";

std::string ClassOf(HWND window)
{
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window)
{
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> windows;
    EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

bool IsStatic(HWND window)
{
    return _stricmp(ClassOf(window).c_str(), "Static") == 0;
}

bool IsIconStatic(HWND window)
{
    return IsStatic(window) && (GetWindowLongA(window, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

// The message box: a visible dialog with an OK button, which the notice does not have.
HWND FindMessageBox()
{
    for (HWND window : TopLevelWindows()) {
        if (IsWindowVisible(window) && ClassOf(window) == kDialogClass &&
            GetDlgItem(window, IDOK) != nullptr) {
            return window;
        }
    }
    return nullptr;
}

HWND FindCalibrationWindow()
{
    return FindWindowA(kCalibrationClass, nullptr);
}

std::string TextOfStatics(HWND dialog)
{
    std::string text;
    for (HWND child : Children(dialog)) {
        if (IsStatic(child) && !IsIconStatic(child)) {
            const std::string part = TextOf(child);
            if (!part.empty()) {
                text += text.empty() ? part : "|" + part;
            }
        }
    }
    return text;
}

// Pixels of an icon drawn on the dialog's face, for comparing icons whose handles belong to
// another process.
std::vector<COLORREF> RenderIcon(HICON icon, int width, int height, COLORREF face)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT all = {0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(face);
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back(GetPixel(memory, x, y));
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

std::vector<COLORREF> ScreenPixels(HWND control, int width, int height)
{
    RECT rect;
    GetWindowRect(control, &rect);
    HDC screen = GetDC(nullptr);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back(GetPixel(screen, rect.left + x, rect.top + y));
        }
    }
    ReleaseDC(nullptr, screen);
    return pixels;
}

int Matching(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b)
{
    int same = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        same += a[i] == b[i] ? 1 : 0;
    }
    return same;
}

// "error", "information", "other" or "none": by handle when the icon is shared, else by looks.
std::string IconOf(HWND dialog)
{
    HWND control = nullptr;
    for (HWND child : Children(dialog)) {
        if (IsIconStatic(child) && IsWindowVisible(child)) {
            control = child;
        }
    }
    if (control == nullptr) {
        return "none";
    }
    HICON shown = reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0));
    HICON error = LoadIconA(nullptr, IDI_ERROR);
    HICON information = LoadIconA(nullptr, IDI_INFORMATION);
    if (shown == nullptr) {
        return "none";
    }
    if (shown == error)
        return "error";
    if (shown == information)
        return "information";

    // Looked at again for a while: on a loaded machine the box may not have painted its icon yet
    // (seen under Wine 10: the face there, the icon not, for 5 s), so halfway it is asked to.
    const int size = GetSystemMetrics(SM_CXICON);
    const int total = size * size;
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG end = start + 10000;
    bool asked = false;
    for (;;) {
        if (!asked && GetTickCount64() >= start + 5000) {
            asked = true;
            RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        }
        const std::vector<COLORREF> onScreen = ScreenPixels(control, size, size);
        const COLORREF face = onScreen.front();
        const int asError = Matching(onScreen, RenderIcon(error, size, size, face));
        const int asInformation = Matching(onScreen, RenderIcon(information, size, size, face));
        const char* seen = asError * 10 >= total * 9 && asError > asInformation ? "error"
                           : asInformation * 10 >= total * 9 && asInformation > asError
                               ? "information"
                               : "other";
        if (std::string(seen) != "other" || GetTickCount64() >= end) {
            std::printf("icon-match-error=%d/%d\nicon-match-information=%d/%d\n", asError, total,
                        asInformation, total);
            return seen;
        }
        Sleep(100);
    }
}

int Seconds(int argc, char** argv, int fallback)
{
    return argc > 2 ? std::atoi(argv[2]) : fallback;
}

int Message(int seconds)
{
    bool calibrationSeen = false;
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    HWND box = nullptr;
    while (GetTickCount64() < end) {
        calibrationSeen = calibrationSeen || FindCalibrationWindow() != nullptr;
        box = FindMessageBox();
        if (box != nullptr) {
            break;
        }
        Sleep(50);
    }
    std::printf("calibration-window-seen=%s\n", calibrationSeen ? "yes" : "no");
    if (box == nullptr) {
        std::printf("message=none\n");
        return 1;
    }
    Sleep(500);  // let it paint before its icon is looked at
    std::printf("caption=%s\n", TextOf(box).c_str());
    std::printf("text=%s\n", TextOfStatics(box).c_str());
    std::printf("icon=%s\n", IconOf(box).c_str());
    std::printf("calibration-window-open=%s\n", FindCalibrationWindow() != nullptr ? "yes" : "no");
    int boxes = 0;
    for (HWND window : TopLevelWindows()) {
        boxes += IsWindowVisible(window) && ClassOf(window) == kDialogClass ? 1 : 0;
    }
    std::printf("dialogs=%d\n", boxes);
    return 0;
}

int PressOk()
{
    HWND box = FindMessageBox();
    if (box == nullptr) {
        std::printf("message=none\n");
        return 1;
    }
    HWND ok = GetDlgItem(box, IDOK);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    std::printf("pressed=ok\n");
    return 0;
}

int CloseCalibration()
{
    HWND window = FindCalibrationWindow();
    if (window == nullptr) {
        std::printf("calibration-window=none\n");
        return 1;
    }
    PostMessageA(window, WM_CLOSE, 0, 0);
    std::printf("posted=WM_CLOSE\n");
    return 0;
}

int TerminateCalibration()
{
    HWND window = FindCalibrationWindow();
    DWORD id = 0;
    if (window == nullptr || GetWindowThreadProcessId(window, &id) == 0) {
        std::printf("calibration-window=none\n");
        return 1;
    }
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
    const bool ended = process != nullptr && TerminateProcess(process, 1);
    if (process != nullptr) {
        CloseHandle(process);
    }
    std::printf("terminated=%s\n", ended ? "yes" : "no");
    return ended ? 0 : 1;
}

int Notice(const char* caption, const char* text, int seconds)
{
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    HWND notice = nullptr;
    // The notice counts once both its texts are set: the program paints it right after that.
    while (GetTickCount64() < end && notice == nullptr) {
        notice = FindWindowA(kDialogClass, caption);
        if (notice != nullptr && TextOfStatics(notice) != text)
            notice = nullptr;
        if (notice == nullptr)
            Sleep(10);
    }
    if (notice == nullptr) {
        std::printf("notice=none\n");
        return 1;
    }
    RECT rect;
    RECT desktop;
    GetWindowRect(notice, &rect);
    GetWindowRect(GetDesktopWindow(), &desktop);
    const LONG style = GetWindowLongA(notice, GWL_STYLE);
    const LONG exStyle = GetWindowLongA(notice, GWL_EXSTYLE);
    // Position in the z-order, counted from the top, against the calibration window's.
    int noticeRank = -1;
    int calibrationRank = -1;
    int rank = 0;
    HWND calibration = FindCalibrationWindow();
    for (HWND window = GetTopWindow(nullptr); window != nullptr;
         window = GetWindow(window, GW_HWNDNEXT), ++rank) {
        if (window == notice)
            noticeRank = rank;
        if (window == calibration)
            calibrationRank = rank;
    }
    std::printf("caption=%s\n", TextOf(notice).c_str());
    std::printf("text=%s\n", TextOfStatics(notice).c_str());
    std::printf("rect=%ld,%ld,%ld,%ld\n", rect.left, rect.top, rect.right, rect.bottom);
    std::printf("desktop=%ld,%ld,%ld,%ld\n", desktop.left, desktop.top, desktop.right,
                desktop.bottom);
    std::printf("style=0x%08lX\n", static_cast<unsigned long>(style));
    std::printf("topmost=%s\n", (exStyle & WS_EX_TOPMOST) != 0 ? "yes" : "no");
    std::printf(
        "above-calibration=%s\n",
        noticeRank >= 0 && calibrationRank >= 0 && noticeRank < calibrationRank ? "yes" : "no");
    // The test takes its screenshot now, and needs to know whether the notice was still up then.
    std::fflush(stdout);
    while (IsWindow(notice) && GetTickCount64() < end) {
        Sleep(10);
    }
    std::printf("closed=%s\n", IsWindow(notice) ? "no" : "yes");
    return 0;
}

int ListWindows()
{
    for (HWND window : TopLevelWindows()) {
        if (!IsWindowVisible(window))
            continue;
        RECT rect;
        GetWindowRect(window, &rect);
        std::printf("window class=%s title=%s rect=%ld,%ld,%ld,%ld\n", ClassOf(window).c_str(),
                    TextOf(window).c_str(), rect.left, rect.top, rect.right, rect.bottom);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--desktop") == 0) {
        // The program's desktop may not exist yet when the inspector starts: wait for it.
        HDESK desktop = nullptr;
        for (int attempt = 0; attempt < 1200 && desktop == nullptr; ++attempt) {
            desktop = OpenDesktopA(argv[2], 0, FALSE, GENERIC_ALL);
            if (desktop == nullptr)
                Sleep(100);
        }
        if (desktop == nullptr || !SetThreadDesktop(desktop)) {
            std::fprintf(stderr, "qavel-inspect: cannot use desktop %s\n", argv[2]);
            return 2;
        }
        argc -= 2;
        argv += 2;
    }
    const std::string command = argc > 1 ? argv[1] : "";
    int result = 1;
    if (command == "message") {
        result = Message(Seconds(argc, argv, 60));
    } else if (command == "press-ok") {
        result = PressOk();
    } else if (command == "close-calibration") {
        result = CloseCalibration();
    } else if (command == "terminate-calibration") {
        result = TerminateCalibration();
    } else if (command == "notice") {
        result = Notice("HID CALIBRATION WARNING", "Saving data - please do not touch the screen",
                        Seconds(argc, argv, 60));
    } else if (command == "windows") {
        result = ListWindows();
    } else {
        std::fprintf(
            stderr,
            "usage: qavel-inspect message|press-ok|close-calibration|terminate-calibration|notice|"
            "windows [seconds]\n");
        return 2;
    }
    std::fflush(stdout);
    return result;
}
