#include "inproc/recording_display.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "common/shared_state.h"
#include "common/strings.h"
#include "app/session_driver.h"
#include "inproc/virtual_clock.h"
#include "platform/clock.h"
#include "platform/display.h"

namespace {

enum class Posted { Done, OutsideEnd };

struct PostedMessage {
    Posted kind;
    std::int32_t result;
    std::uint64_t atMs;  // virtual time of the post
};

std::mutex displayMutex;
std::condition_variable posted;
std::deque<PostedMessage> queue;
RecordingDisplayOptions options;
std::vector<std::string> events;
std::vector<std::string> messages;
bool windowOpen = false;
bool windowEverCreated = false;
int noticeDepth = 0;

// Any non-null value will do: nothing dereferences it.
CalibrationWindow* const kWindow = reinterpret_cast<CalibrationWindow*>(std::uintptr_t{0x1000});

void Record(std::string line)
{
    std::lock_guard<std::mutex> lock(displayMutex);
    line = std::to_string(VirtualNowMs()) + " " + line;
    if (options.echo != nullptr) {
        std::fprintf(options.echo, "%s\n", line.c_str());
        std::fflush(options.echo);
    }
    events.push_back(std::move(line));
}

// Named by their COLORREF values, not by the program's constants, so that a changed constant
// shows in every recorded target.
std::string ColorName(std::uint32_t color)
{
    if (color == 0x0000FF00) {
        return "green";
    }
    if (color == 0x000000FF) {
        return "red";
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%06x", color);
    return hex;
}

}  // namespace

void RecordingDisplayReset(const RecordingDisplayOptions& newOptions)
{
    std::lock_guard<std::mutex> lock(displayMutex);
    queue.clear();
    options = newOptions;
    events.clear();
    messages.clear();
    windowOpen = false;
    windowEverCreated = false;
    noticeDepth = 0;
}

std::vector<std::string> RecordedEvents()
{
    std::lock_guard<std::mutex> lock(displayMutex);
    return events;
}

std::vector<std::string> RecordedMessages()
{
    std::lock_guard<std::mutex> lock(displayMutex);
    if (messages.empty()) {
        return {"message none"};
    }
    return messages;
}

bool CalibrationWindowEverCreated()
{
    std::lock_guard<std::mutex> lock(displayMutex);
    return windowEverCreated;
}

void PressEscape()
{
    std::lock_guard<std::mutex> lock(displayMutex);
    if (windowOpen) {
        abortRequested.store(1);
    }
}

void RequestClose()
{
    PressEscape();
}

void RequestOutsideEnd()
{
    std::unique_lock<std::mutex> lock(displayMutex);
    if (!windowOpen) {
        return;
    }
    queue.push_back({Posted::OutsideEnd, 0, VirtualNowMs()});
    posted.notify_all();
    // A real main loop takes it within a moment of the worker's pause; here the clock (which the
    // caller moves) stands still until the loop has raised the flag, so the run is repeatable.
    posted.wait(lock, [] { return abortRequested.load() != 0; });
}

WindowHandle CreateCalibrationWindow()
{
    char title[256];
    if (!LoadStringResource(IDS_CAPTION, title, sizeof title)) {
        return nullptr;
    }
    PauseMs(options.windowTakesMs);
    {
        std::lock_guard<std::mutex> lock(displayMutex);
        if (options.failWindow) {
            return nullptr;
        }
        windowOpen = true;
        windowEverCreated = true;
    }
    Record("window shown");
    return kWindow;
}

void ClearTarget(WindowHandle) {}

std::uint32_t PumpUntilQuit()
{
    std::unique_lock<std::mutex> lock(displayMutex);
    posted.wait(lock, [] { return !queue.empty(); });
    const PostedMessage message = queue.front();
    queue.pop_front();
    if (message.kind == Posted::OutsideEnd) {
        lock.unlock();
        EndRunFromOutside();
        return static_cast<std::uint32_t>(ResultUserAbort);
    }
    return static_cast<std::uint32_t>(message.result);
}

bool WaitForCalibrationDoneMessage(std::uint32_t timeoutMs)
{
    const std::uint64_t deadline = VirtualNowMs() + timeoutMs;
    std::unique_lock<std::mutex> lock(displayMutex);
    posted.notify_all();  // abortRequested is up: RequestOutsideEnd may go on
    // The worker moves the clock in no real time, so the wait is judged by the virtual time of
    // the post, not by when this thread sees it; a real-time slice only lets the check come round.
    for (;;) {
        for (auto it = queue.begin(); it != queue.end(); ++it) {
            if (it->kind == Posted::Done) {
                const bool inTime = it->atMs <= deadline;
                queue.erase(it);
                return inTime;
            }
        }
        if (VirtualNowMs() > deadline) {
            return false;
        }
        posted.wait_for(lock, std::chrono::milliseconds(1));
    }
}

void DestroyCalibrationWindow(WindowHandle)
{
    {
        std::lock_guard<std::mutex> lock(displayMutex);
        windowOpen = false;
    }
    Record("window closed");
}

bool LoadStringResource(std::uint32_t id, char* buffer, int bufferSize)
{
    {
        std::lock_guard<std::mutex> lock(displayMutex);
        const auto& missing = options.missingStrings;
        if (std::find(missing.begin(), missing.end(), id) != missing.end()) {
            return false;
        }
    }
    const char* text = FindTableString(id);
    if (text == nullptr || bufferSize <= 0) {
        return false;
    }
    std::snprintf(buffer, static_cast<std::size_t>(bufferSize), "%s", text);
    return true;
}

bool ShowMessageBox(const char* text, const char* caption, MessageIcon icon)
{
    std::lock_guard<std::mutex> lock(displayMutex);
    if (options.failFormat) {
        return false;
    }
    std::string line = "message ";
    line += icon == MessageIcon::Information ? "information" : "error";
    line += " \"" + std::string(caption != nullptr ? caption : "Error") + "\" \"" + text + "\"";
    if (options.echo != nullptr) {
        std::fprintf(options.echo, "%s\n", line.c_str());
        std::fflush(options.echo);
    }
    messages.push_back(std::move(line));
    return true;
}

void WriteDiagnostic(const std::string& line)
{
    Record("diagnostic " + line);
}

bool PostShowTargetMessage(WindowHandle, std::uint32_t xBits, std::uint32_t yBits)
{
    PauseMs(options.postTakesMs);
    // Recorded when posted, with the colour the repaint will read: the order stays deterministic.
    char line[96];
    std::snprintf(line, sizeof line, "target %.3f %.3f %s", std::bit_cast<float>(xBits),
                  std::bit_cast<float>(yBits), ColorName(targetColor.load()).c_str());
    Record(line);
    return true;
}

bool PostCalibrationDoneMessage(WindowHandle, std::int32_t result)
{
    // Notified under the lock: once the pump has the message the worker must touch nothing,
    // since the process may already be ending.
    std::lock_guard<std::mutex> lock(displayMutex);
    queue.push_back({Posted::Done, result, VirtualNowMs()});
    posted.notify_all();
    return true;
}

void SystemBeep()
{
    Record("beep");
}

void ShowNotice(const char* caption, const char* text)
{
    {
        std::lock_guard<std::mutex> lock(displayMutex);
        ++noticeDepth;
    }
    Record(std::string("notice \"") + caption + "\" \"" + text + "\"");
}

void CloseNotice()
{
    {
        std::lock_guard<std::mutex> lock(displayMutex);
        if (noticeDepth == 0) {
            return;
        }
        --noticeDepth;
    }
    Record("notice closed");
}
