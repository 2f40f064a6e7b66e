#include "app/session_driver.h"

#include "common/shared_state.h"
#include "common/strings.h"
#include "app/worker.h"
#include "controller/session.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/guardian.h"

namespace {

// Main thread only.
bool workerRunning = false;
bool endedFromOutside = false;

// How long an ending from outside waits for the worker's result: the longest the worker may still
// take once abortRequested is set. It completes the step it is in, and any transfer may take its
// 10 attempts (1 s). The longest road is the ASCII model's: the poll in flight announces a touch
// (1 s), the pause after that target (1 s), the next wait sees the flag (0.1 s), then the finish
// under the notice twice ("R" sent, 1 s; its reply not waited for; the 1.1 s of pauses) and the
// two cleanup modes (1 s each): 8.3 s. Next comes the raw models' store step: the last poll
// (1 s), the pause (0.5 s), five page transfers and the closing mode (6 s): 7.5 s. The rest is
// for the window system (painting the notice). CloseController adds up to 2 s after it.
constexpr std::uint32_t kWorkerEndingBoundMs = 9000;

}  // namespace

std::uint32_t MessageForResult(std::uint32_t code)
{
    switch (code) {
    case 0: return IDS_SUCCESS;
    case 1: return IDS_CANNOT_OPEN_DRIVER;
    case 2: return IDS_CANNOT_WRITE;
    case 4: return IDS_INVALID_TOUCH;
    case 5: return IDS_USER_ABORT;
    default: return IDS_CANNOT_START;
    }
}

void ShowOutcomeMessage(std::uint32_t stringId, const std::string& addedLine)
{
    char caption[256];
    char text[256];
    if (!LoadStringResource(IDS_CAPTION, caption, sizeof caption)) {
        return;
    }
    if (!LoadStringResource(stringId, text, sizeof text)) {
        return;
    }
    std::string shown = text;
    if (!addedLine.empty()) {
        // The formatter must take the added line's characters as they are.
        shown += '\n';
        for (const char c : addedLine) {
            shown += c == '%' ? "%%" : std::string(1, c);
        }
    }
    if (stringId == IDS_USER_ABORT || stringId == IDS_SUCCESS) {
        ShowMessageBox(shown.c_str(), caption, MessageIcon::Information);
    } else {
        ShowMessageBox(shown.c_str(), nullptr, MessageIcon::Error);
    }
}

void RunSession()
{
    std::uint32_t code = static_cast<std::uint32_t>(ResultCannotStart);
    const WindowHandle window = CreateCalibrationWindow();
    if (window != nullptr) {
        ClearTarget(window);
        if (StartCalibrationWorker(window)) {
            workerRunning = true;
            code = PumpUntilQuit();
            workerRunning = false;
        }
        // The process ends now: the system takes the window, and nobody is there to read.
        if (endedFromOutside) {
            return;
        }
        DestroyCalibrationWindow(window);
    }
    ShowOutcomeMessage(MessageForResult(code));
}

void EndRunFromOutside()
{
    if (endedFromOutside) {
        return;
    }
    endedFromOutside = true;
    abortRequested.store(1);
    // Still inside a step after the bound: the session is the worker's, so it is not closed
    // under it; the system closes the device with the process.
    if (workerRunning && !WaitForCalibrationDoneMessage(kWorkerEndingBoundMs)) {
        return;
    }
    workerRunning = false;
    CloseController(currentSession);
}

int RunProgram()
{
    workerRunning = false;
    endedFromOutside = false;
    currentSession = OpenController();
    if (currentSession == nullptr) {
        // A controller that is there but may not be opened must not look like a missing one.
        const std::string blocked = ExplainMissingController();
        if (!blocked.empty()) {
            WriteDiagnostic(blocked);
        }
        ShowOutcomeMessage(IDS_NO_CONTROLLER, blocked);
        return 0;
    }
    // The pause before the first transfer runs from here, while the guardian and the window are
    // made, rather than after them.
    currentSession->quietMark = QuietMark::Opened;
    currentSession->quietSinceUs = MonotonicUs();
    // Before the worker exists, and so before the controller's mode first changes.
    if (!GuardianStart(currentSession->device)) {
        WriteDiagnostic(
            "no guardian for the controller: should the program be killed, unplug "
            "the controller to leave its calibration mode");
    }
    RunSession();
    if (!endedFromOutside) {
        CloseController(currentSession);
    }
    return 0;
}
