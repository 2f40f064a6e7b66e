#include "app/worker.h"

#include <bit>
#include <new>
#include <system_error>
#include <thread>

#include "calibration/calibration_math.h"
#include "controller/model_dispatch.h"
#include "controller/transport.h"
#include "platform/clock.h"

namespace {

struct TargetPosition {
    float x;
    float y;
};

constexpr TargetPosition kTargets[3] = {{0.125f, 0.125f}, {0.875f, 0.875f}, {0.125f, 0.875f}};
constexpr std::uint32_t kPauseAfterTarget[3] = {1000, 500, 500};

void ShowTarget(CalibrationHost* host, const TargetPosition& target, std::uint32_t color)
{
    // The colour must be in place before the message whose repaint uses it.
    targetColor.store(color);
    host->showTarget(host, std::bit_cast<std::uint32_t>(target.x),
                     std::bit_cast<std::uint32_t>(target.y));
}

// Shows target n (0-based) green, waits for its touch, then beeps and shows it red.
bool TakeTarget(CalibrationHost* host, int n)
{
    ShowTarget(host, kTargets[n], kTargetGreen);
    if (!CaptureTouch(host->session, n + 1)) {
        return false;
    }
    // The pause counts from the touch, and the next transfer's from the pause's end: the main
    // thread, woken to paint, may take this thread's processor for a while after each post.
    const std::int64_t pauseEndUs = MonotonicUs() + std::int64_t{kPauseAfterTarget[n]} * 1000;
    SystemBeep();
    ShowTarget(host, kTargets[n], kTargetRed);
    PauseUntilUs(pauseEndUs);
    MarkQuietSince(host->session, pauseEndUs);
    return true;
}

CalibrationResult RunTargets(CalibrationHost* host)
{
    ControllerSession* session = host->session;
    if (!BeginCalibration(session)) {
        return ResultStartFailed;
    }
    if (!TakeTarget(host, 0) || !TakeTarget(host, 1)) {
        return ResultInvalidTouch;
    }
    if (NeedsThirdTarget(session)) {
        if (!TakeTarget(host, 2)) {
            return ResultInvalidTouch;
        }
    } else {
        DeriveThirdPoint(session);
    }
    return ComputeAndStoreCalibration(session) != 0 ? ResultSuccess : ResultInvalidTouch;
}

}  // namespace

bool PostShowTarget(CalibrationHost* host, std::uint32_t xBits, std::uint32_t yBits)
{
    return PostShowTargetMessage(host->window, xBits, yBits);
}

CalibrationResult RunCalibrationSequence(CalibrationHost* host)
{
    ControllerSession* session = host->session;
    if (!PrepareCalibration(session)) {
        return ResultPrepareFailed;
    }
    const CalibrationResult result = RunTargets(host);
    FinishCalibration(session, result == ResultSuccess);
    CleanupCalibration(session);
    return result;
}

void CalibrationWorker(WindowHandle* parameter)
{
    const WindowHandle window = *parameter;
    CalibrationHost host{currentSession, PostShowTarget, window};
    delete parameter;

    CalibrationResult result = RunCalibrationSequence(&host);
    if (abortRequested.load() != 0 && result == ResultInvalidTouch) {
        result = ResultUserAbort;
    }
    PostCalibrationDoneMessage(window, result);
}

bool StartCalibrationWorker(WindowHandle window)
{
    abortRequested.store(0);
    auto* parameter = new (std::nothrow) WindowHandle(window);
    if (parameter == nullptr) {
        return false;
    }
    // No thread to be had is an outcome of its own ("Cannot start calibration."), not an abort.
    try {
        std::thread worker(CalibrationWorker, parameter);
        worker.detach();
    } catch (const std::system_error&) {
        delete parameter;
        return false;
    } catch (const std::bad_alloc&) {
        delete parameter;
        return false;
    }
    return true;
}
