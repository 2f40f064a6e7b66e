#include "app/session_driver.h"

#include "common/shared_state.h"
#include "common/strings.h"
#include "app/worker.h"
#include "controller/session.h"
#include "platform/display.h"

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

void ShowOutcomeMessage(std::uint32_t stringId)
{
    char caption[256];
    char text[256];
    if (!LoadStringResource(IDS_CAPTION, caption, sizeof caption)) {
        return;
    }
    if (!LoadStringResource(stringId, text, sizeof text)) {
        return;
    }
    if (stringId == IDS_USER_ABORT || stringId == IDS_SUCCESS) {
        ShowMessageBox(text, caption, MessageIcon::Information);
    } else {
        ShowMessageBox(text, nullptr, MessageIcon::Error);
    }
}

void RunSession()
{
    std::uint32_t code = static_cast<std::uint32_t>(ResultCannotStart);
    const WindowHandle window = CreateCalibrationWindow();
    if (window != nullptr) {
        ClearTarget(window);
        if (StartCalibrationWorker(window)) {
            code = PumpUntilQuit();
        }
        DestroyCalibrationWindow(window);
    }
    ShowOutcomeMessage(MessageForResult(code));
}

int RunProgram()
{
    currentSession = OpenController();
    if (currentSession == nullptr) {
        ShowOutcomeMessage(IDS_NO_CONTROLLER);
        return 0;
    }
    RunSession();
    CloseController(currentSession);
    return 0;
}
