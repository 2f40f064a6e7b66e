// The display seam on Linux. The calibration window's side that no display decides is here: the
// worker's posts, queued and woken up through an eventfd, the target they carry, and the main
// thread's loop, which sleeps in the display's poll until something arrives. Drawing, events, the
// notice and the message box are the chosen display's (display_backend.h).

#include <errno.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>

#include "app/session_driver.h"
#include "common/shared_state.h"
#include "common/strings.h"
#include "platform/display.h"
#include "platform/linux/display_backend.h"
#include "platform/linux/message_format.h"
#include "platform/linux/outside_end.h"

namespace {

enum class MessageKind { ShowTarget, Beep, CalibrationDone };

// How long after the first target is painted the outcome box is readied: loading its fonts takes
// the processor for milliseconds, which the compositor needs to show that target. The worker then
// waits for a touch, far longer.
constexpr std::uint32_t kPrepareBoxAfterMs = 100;

struct QueuedMessage {
    MessageKind kind;
    std::uint32_t first;
    std::uint32_t second;
};

const DisplayBackend* chosenDisplay = nullptr;

}  // namespace

struct CalibrationWindow {
    int wakeFd = -1;
    float targetX = -1.0f;
    float targetY = -1.0f;
    bool needsPaint = false;
    std::deque<QueuedMessage> queue;  // guarded by windowLock
};

namespace {

// Guards the queue and the moment the window is freed. The worker holds it until it is done
// with the window, wake-up included: once the main loop can take the done message it may free
// the window, so nothing of the worker may still be on its way to it.
std::mutex windowLock;

std::atomic<CalibrationWindow*> theWindow{nullptr};

bool Post(CalibrationWindow* w, const QueuedMessage& message)
{
    if (w == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> guard(windowLock);
    w->queue.push_back(message);
    const std::uint64_t one = 1;
    ssize_t written;
    do {
        written = write(w->wakeFd, &one, sizeof one);
    } while (written < 0 && errno == EINTR);
    return true;
}

// What the worker has posted so far, in order.
std::deque<QueuedMessage> TakeMessages(CalibrationWindow* w)
{
    std::uint64_t counter;
    while (read(w->wakeFd, &counter, sizeof counter) < 0 && errno == EINTR) {
    }
    std::deque<QueuedMessage> messages;
    std::lock_guard<std::mutex> guard(windowLock);
    messages.swap(w->queue);
    return messages;
}

// A timer fd that becomes readable once ms have passed; -1 when none can be made.
int DeadlineTimer(std::uint32_t ms)
{
    const int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (timer < 0) {
        return -1;
    }
    itimerspec spec{};
    spec.it_value.tv_sec = static_cast<time_t>(ms / 1000);
    spec.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000L + 1;  // zero would disarm it
    if (timerfd_settime(timer, 0, &spec, nullptr) < 0) {
        close(timer);
        return -1;
    }
    return timer;
}

void FreeWindow(CalibrationWindow* w)
{
    if (w->wakeFd >= 0) {
        close(w->wakeFd);
    }
    delete w;
}

}  // namespace

bool PollWith(int displayFd, const pollfd* fds, int count)
{
    pollfd descriptors[4] = {{displayFd, POLLIN, 0}};
    const int extra = count < 3 ? count : 3;
    for (int i = 0; i < extra; ++i) {
        descriptors[i + 1] = fds[i];
    }
    while (poll(descriptors, static_cast<nfds_t>(extra + 1), -1) < 0 && errno == EINTR) {
    }
    return descriptors[0].revents != 0;
}

const DisplayBackend* ChosenDisplay()
{
    return chosenDisplay;
}

void ChooseDisplay(const DisplayBackend* display)
{
    chosenDisplay = display;
}

WindowHandle CreateCalibrationWindow()
{
    char title[256];
    if (chosenDisplay == nullptr || !LoadStringResource(IDS_CAPTION, title, sizeof title) ||
        theWindow.load() != nullptr) {
        return nullptr;
    }
    CatchOutsideEnds();
    CalibrationWindow* w = new (std::nothrow) CalibrationWindow;
    if (w == nullptr) {
        return nullptr;
    }
    w->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w->wakeFd < 0 || !chosenDisplay->openWindow(title)) {
        FreeWindow(w);
        return nullptr;
    }
    theWindow.store(w);
    return w;
}

void ClearTarget(WindowHandle window)
{
    if (window == nullptr) {
        return;
    }
    window->targetX = -1.0f;
    window->needsPaint = true;
}

std::uint32_t PumpUntilQuit()
{
    CalibrationWindow* w = theWindow.load();
    if (w == nullptr) {
        return static_cast<std::uint32_t>(ResultCannotStart);
    }
    bool boxPrepared = false;
    int prepareTimer = -1;
    const auto stop = [&prepareTimer](std::uint32_t code) {
        if (prepareTimer >= 0) {
            close(prepareTimer);
        }
        return code;
    };
    for (;;) {
        if (OutsideEndRequested()) {
            EndRunFromOutside();
            return stop(static_cast<std::uint32_t>(ResultUserAbort));
        }
        for (const QueuedMessage& message : TakeMessages(w)) {
            if (message.kind == MessageKind::CalibrationDone) {
                return stop(message.second);
            }
            if (message.kind == MessageKind::Beep) {
                chosenDisplay->beep();
                continue;
            }
            ClearTarget(w);
            // The words are bit patterns of floats: copy the bits, convert no number.
            std::memcpy(&w->targetX, &message.first, sizeof w->targetX);
            std::memcpy(&w->targetY, &message.second, sizeof w->targetY);
            w->needsPaint = true;
        }
        if (chosenDisplay->takeEvents()) {
            w->needsPaint = true;
        }
        if (DisplayLost()) {
            continue;
        }
        if (w->needsPaint) {
            w->needsPaint = false;
            chosenDisplay->paintWindow(w->targetX, w->targetY);
        }
        std::uint64_t expirations = 0;
        if (prepareTimer >= 0 && read(prepareTimer, &expirations, sizeof expirations) > 0) {
            close(prepareTimer);
            prepareTimer = -1;
            chosenDisplay->prepareMessageBox();
        }
        if (!boxPrepared && w->targetX != -1.0f) {
            boxPrepared = true;
            prepareTimer = DeadlineTimer(kPrepareBoxAfterMs);
        }
        pollfd descriptors[3] = {
            {w->wakeFd, POLLIN, 0}, {OutsideEndFd(), POLLIN, 0}, {prepareTimer, POLLIN, 0}};
        chosenDisplay->sleep(descriptors, 3);
    }
}

bool WaitForCalibrationDoneMessage(std::uint32_t timeoutMs)
{
    CalibrationWindow* w = theWindow.load();
    if (w == nullptr) {
        return false;
    }
    // The display is served while the worker ends, so that a compositor's pings are answered (one
    // that gets none may offer to kill a program that is not hung); a lost one is left alone.
    const std::int64_t deadline = MonotonicMs() + timeoutMs;
    const int timer = DeadlineTimer(timeoutMs);
    bool done = false;
    while (!done) {
        for (const QueuedMessage& message : TakeMessages(w)) {
            done = done || message.kind == MessageKind::CalibrationDone;
        }
        const std::int64_t left = deadline - MonotonicMs();
        if (done || left <= 0) {
            break;
        }
        if (timer >= 0 && !DisplayLost()) {
            chosenDisplay->takeEvents();
        }
        if (timer >= 0 && !DisplayLost()) {
            pollfd descriptors[2] = {{w->wakeFd, POLLIN, 0}, {timer, POLLIN, 0}};
            chosenDisplay->sleep(descriptors, 2);
        } else {
            pollfd descriptor{w->wakeFd, POLLIN, 0};
            poll(&descriptor, 1, static_cast<int>(left));
        }
    }
    if (timer >= 0) {
        close(timer);
    }
    return done;
}

void DestroyCalibrationWindow(WindowHandle window)
{
    if (window == nullptr) {
        return;
    }
    if (window == theWindow.load()) {
        theWindow.store(nullptr);
    }
    {
        // Waits for a worker still inside a post to this window.
        std::lock_guard<std::mutex> guard(windowLock);
    }
    chosenDisplay->closeWindow();
    FreeWindow(window);
}

bool PostShowTargetMessage(WindowHandle window, std::uint32_t xBits, std::uint32_t yBits)
{
    return Post(window, QueuedMessage{MessageKind::ShowTarget, xBits, yBits});
}

bool PostCalibrationDoneMessage(WindowHandle window, std::int32_t result)
{
    return Post(window,
                QueuedMessage{MessageKind::CalibrationDone, 0, static_cast<std::uint32_t>(result)});
}

void SystemBeep()
{
    // Rung by the main loop: only the main thread uses the window's connection.
    Post(theWindow.load(), QueuedMessage{MessageKind::Beep, 0, 0});
}

bool ShowMessageBox(const char* text, const char* caption, MessageIcon icon)
{
    std::string formatted;
    if (chosenDisplay == nullptr || !FormatMessageText(text, &formatted)) {
        return false;
    }
    return chosenDisplay->showMessageBox(formatted, caption, icon);
}

void ShowNotice(const char* caption, const char* text)
{
    // Without a display the save goes on unannounced, and at once.
    if (chosenDisplay != nullptr && !DisplayLost()) {
        chosenDisplay->showNotice(caption != nullptr ? caption : "", text != nullptr ? text : "");
    }
}

void CloseNotice()
{
    if (chosenDisplay != nullptr) {
        chosenDisplay->closeNotice();
    }
}

void WriteDiagnostic(const std::string& line)
{
    std::fprintf(stderr, "qavel: %s\n", line.c_str());
}
