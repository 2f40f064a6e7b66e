// The Linux calibration window and X error handling against a real X server (Xvfb, started by
// with_xvfb.sh). Two Xlib and libc entry points are interposed here, in the test binary only:
// XCreateWindow, to make the server refuse the window, and pthread_mutex_unlock and write, to
// widen the moment between a worker's post and the end of its use of the window.

// gtest first: Xlib's macros (None, Bool, Success) would break its templates.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/shared_state.h"
#include "platform/display.h"
#include "platform/linux/display_backend.h"
#include "platform/x11/calibration_window.h"
#include "platform/x11/x_errors.h"
#include "platform/x11/x_util.h"

namespace {

std::atomic<bool> refuseWindows{false};

thread_local bool widenAfterUnlock = false;
thread_local bool watchWrites = false;
std::atomic<bool> strayWrite{false};
Display* poker = nullptr;  // the test's own connection, to wake the main loop with an event

using CreateWindowFn = Window (*)(Display*, Window, int, int, unsigned int, unsigned int,
                                  unsigned int, int, unsigned int, Visual*, unsigned long,
                                  XSetWindowAttributes*);

}  // namespace

extern "C" Window XCreateWindow(Display* display, Window parent, int x, int y, unsigned int width,
                                unsigned int height, unsigned int border, int depth,
                                unsigned int windowClass, Visual* visual, unsigned long mask,
                                XSetWindowAttributes* attributes)
{
    static const CreateWindowFn real =
        reinterpret_cast<CreateWindowFn>(dlsym(RTLD_NEXT, "XCreateWindow"));
    // A zero width is refused by the server (BadValue), as any refusal would be: asynchronously.
    const unsigned int w = refuseWindows.load() ? 0 : width;
    return real(display, parent, x, y, w, height, border, depth, windowClass, visual, mask,
                attributes);
}

#if !defined(__SANITIZE_THREAD__)
// The thread sanitizer keeps its own books on these two; the gap is widened only without it.
namespace {

void WakeMainLoopThenWait()
{
    XEvent expose{};
    expose.xexpose.type = Expose;
    expose.xexpose.window = CalibrationWindowId();
    expose.xexpose.width = 1;
    expose.xexpose.height = 1;
    XSendEvent(poker, expose.xexpose.window, False, ExposureMask, &expose);
    XFlush(poker);
    timespec pause{0, 300L * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

}  // namespace

using UnlockFn = int (*)(pthread_mutex_t*);
using WriteFn = ssize_t (*)(int, const void*, size_t);

extern "C" int pthread_mutex_unlock(pthread_mutex_t* mutex)
{
    static const UnlockFn real =
        reinterpret_cast<UnlockFn>(dlsym(RTLD_NEXT, "pthread_mutex_unlock"));
    const int result = real(mutex);
    if (widenAfterUnlock) {
        widenAfterUnlock = false;
        WakeMainLoopThenWait();
    }
    return result;
}

extern "C" ssize_t write(int fd, const void* buffer, size_t count)
{
    static const WriteFn real = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"));
    const ssize_t result = real(fd, buffer, count);
    if (watchWrites && result < 0 && errno == EBADF) {
        strayWrite.store(true);
    }
    return result;
}
#endif

namespace {

class XWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        poker = OpenDisplayRetrying();
        ASSERT_NE(poker, nullptr) << "no X server; run through with_xvfb.sh";
    }
    void TearDown() override
    {
        if (poker != nullptr) {
            XCloseDisplay(poker);
        }
        poker = nullptr;
    }
};

TEST_F(XWindow, TheWorkerIsDoneWithTheWindowBeforeItCanBeFreed)
{
    // The worker's last act is the done post. An X event wakes the main loop just after the
    // post's lock is released; the loop takes the message and the window is destroyed at once.
    // The worker must not touch the window or its wake-up descriptor afterwards.
    for (int round = 0; round < 3; ++round) {
        const WindowHandle window = CreateCalibrationWindow();
        ASSERT_NE(window, nullptr);
        strayWrite.store(false);
        std::thread worker([window] {
            watchWrites = true;
            widenAfterUnlock = true;
            PostCalibrationDoneMessage(window, ResultInvalidTouch);
            widenAfterUnlock = false;
            watchWrites = false;
        });
        EXPECT_EQ(PumpUntilQuit(), static_cast<std::uint32_t>(ResultInvalidTouch));
        DestroyCalibrationWindow(window);
        worker.join();
        EXPECT_FALSE(strayWrite.load()) << "the worker wrote to a descriptor already closed";
    }
}

TEST_F(XWindow, AWindowTheServerRefusesIsNoWindow)
{
    testing::internal::CaptureStderr();
    refuseWindows.store(true);
    const WindowHandle refused = CreateCalibrationWindow();
    refuseWindows.store(false);
    EXPECT_EQ(refused, nullptr) << "the run must end with \"Cannot start calibration.\"";
    EXPECT_EQ(CalibrationWindowId(), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the refusal was expected";

    // Nothing of the refused attempt stands in the way of a window the server accepts.
    const WindowHandle window = CreateCalibrationWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_NE(CalibrationWindowId(), 0u);
    DestroyCalibrationWindow(window);
}

TEST_F(XWindow, AMessageBoxTheServerRefusesIsNotWaitedFor)
{
    // Nothing is shown, so nobody could ever dismiss it: the box reports that it was not shown.
    testing::internal::CaptureStderr();
    refuseWindows.store(true);
    EXPECT_FALSE(ShowMessageBox("Invalid touch.", nullptr, MessageIcon::Error));
    refuseWindows.store(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(XWindow, OnlyErrorsAboutWindowsKnownToBeGoneAreDropped)
{
    // The notice's connection gives the focus back to the calibration window; had that window
    // just been destroyed, the error about it is expected.
    const WindowHandle calibration = CreateCalibrationWindow();
    ASSERT_NE(calibration, nullptr);
    const Window calibrationId = CalibrationWindowId();
    DestroyCalibrationWindow(calibration);
    testing::internal::CaptureStderr();
    XSetInputFocus(poker, calibrationId, RevertToPointerRoot, CurrentTime);
    XSync(poker, False);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // A window gone without our knowing is another matter: the error is reported, and the
    // process goes on. The server hands a closed connection's ids to the next one, so the
    // stranger's id is taken past any that an earlier window of this process could have had.
    for (int i = 0; i < 256; ++i) {
        XFreePixmap(poker, XCreatePixmap(poker, DefaultRootWindow(poker), 1, 1, 1));
    }
    const Window stranger =
        XCreateSimpleWindow(poker, DefaultRootWindow(poker), 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(poker, stranger);
    testing::internal::CaptureStderr();
    XMapWindow(poker, stranger);
    XSync(poker, False);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("X error"), std::string::npos) << report;
    EXPECT_NE(report.find("BadWindow"), std::string::npos) << report;

    // After NoteWindowGone it is expected too.
    NoteWindowGone(stranger);
    testing::internal::CaptureStderr();
    XMapWindow(poker, stranger);
    XSync(poker, False);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// The little-endian words of a minimal connection setup answer: one screen, one depth of 24 with
// one TrueColor visual, one pixmap format.
std::string SetupAnswer()
{
    std::string bytes;
    const auto put = [&bytes](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) {
            bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
        }
    };
    put(1, 2), put(11, 2), put(0, 2), put((32 + 4 + 8 + 40 + 8 + 24) / 4, 2);
    put(1, 4), put(0x200000, 4), put(0x1FFFFF, 4), put(0, 4), put(4, 2), put(0xFFFF, 2);
    put(1, 1), put(1, 1), put(0, 1), put(0, 1), put(32, 1), put(32, 1), put(8, 1), put(255, 1);
    put(0, 4);
    bytes += "fake";
    put(24, 1), put(32, 1), put(32, 1), put(0, 1), put(0, 4);
    put(0x25, 4), put(0x20, 4), put(0xFFFFFF, 4), put(0, 4), put(0, 4);
    put(800, 2), put(600, 2), put(200, 2), put(150, 2), put(1, 2), put(1, 2);
    put(0x21, 4), put(0, 1), put(0, 1), put(24, 1), put(1, 1);
    put(24, 1), put(0, 1), put(1, 2), put(0, 4);
    put(0x21, 4), put(4, 1), put(8, 1), put(256, 2), put(0xFF0000, 4), put(0xFF00, 4);
    put(0xFF, 4), put(0, 4);
    return bytes;
}

TEST_F(XWindow, AServerGoneWhileTheConnectionIsMadeGivesNoConnectionAndNoExit)
{
    // XOpenDisplay asks for the root window's resources once set up; the server goes instead.
    const int number = 4000 + static_cast<int>(getpid() % 4000);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    unlink(path.c_str());
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    std::thread server([listener] {
        const int client = accept(listener, nullptr, nullptr);
        unsigned char head[12];
        std::string rest;
        if (client >= 0 && recv(client, head, sizeof head, MSG_WAITALL) == sizeof head) {
            const auto padded = [](unsigned n) { return (n + 3) & ~3u; };
            rest.resize(padded(head[6] | head[7] << 8) + padded(head[8] | head[9] << 8));
            if (!rest.empty()) {
                recv(client, rest.data(), rest.size(), MSG_WAITALL);
            }
            const std::string answer = SetupAnswer();
            send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
            recv(client, head, 4, MSG_WAITALL);  // its first request
        }
        close(client);
    });
    const std::string display = std::getenv("DISPLAY");
    setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
    Display* const made = OpenConnection();
    setenv("DISPLAY", display.c_str(), 1);
    server.join();
    close(listener);
    unlink(path.c_str());
    EXPECT_EQ(made, nullptr);

    // The opening that gave up leaves the next one, to a server that stays, as it was.
    Display* const next = OpenConnection();
    ASSERT_NE(next, nullptr);
    XCloseDisplay(next);
}

}  // namespace

int main(int argc, char** argv)
{
    // The X11 display, whatever else the environment offers.
    unsetenv("WAYLAND_DISPLAY");
    std::string failure;
    ChooseDisplay(ConnectX11(&failure));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
