#include "controller/model_dispatch.h"

#include "calibration/touch_capture.h"
#include "controller/abort_ending.h"
#include "controller/ascii_tunnel.h"
#include "controller/transport.h"

namespace {

bool IsRawModel(std::uint32_t productId)
{
    return productId == kModelRaw0100 || productId == kModelRaw0102;
}

}  // namespace

bool PrepareCalibration(ControllerSession* session)
{
    // Armed before the mode changes: a death during the send may still have changed it.
    GuardAt(session, RunPoint::Calibrating);
    if (session->productId == kModelAscii0300 && !SendModeCommand(session, ModeAsciiPrepare)) {
        GuardAt(session, RunPoint::Left);
        return false;
    }
    return true;
}

bool BeginCalibration(ControllerSession* session)
{
    switch (session->productId) {
    case kModelStatus0003:
    case kModelStatus0400: return SendStartCommand(session);
    case kModelRaw0100:
    case kModelRaw0102: return SendModeCommand(session, ModeBeginCalibration);
    case kModelAscii0300: return StartAsciiCalibration(session);
    default: return false;
    }
}

bool CaptureTouch(ControllerSession* session, int targetNumber)
{
    switch (session->productId) {
    case kModelStatus0003:
        // Its second accepted target ends its calibration: an abort after it stops nothing.
        if (WaitControllerStatus(session, targetNumber) == 0) {
            return false;
        }
        if (targetNumber == 2) {
            GuardAt(session, RunPoint::Finished);
        }
        return true;
    case kModelStatus0400: return WaitControllerStatus(session, targetNumber) != 0;
    case kModelRaw0100:
    case kModelRaw0102: return CaptureRawTouch(session) != 0;
    case kModelAscii0300: return WaitAsciiTouch(session);
    default: return false;
    }
}

bool NeedsThirdTarget(const ControllerSession* session)
{
    return session->productId == kModelRaw0100;
}

void FinishCalibration(ControllerSession* session, bool success)
{
    if (session->productId == kModelStatus0003) {
        if (!success) {
            SendStopCommand(session);
        }
    } else if (IsRawModel(session->productId) || session->productId == kModelStatus0400) {
        SendModeCommand(session, ModeEndCalibration);
    } else if (session->productId == kModelAscii0300) {
        FinishAsciiCalibration(session);
    }
    GuardAt(session, RunPoint::Finished);
}

void CleanupCalibration(ControllerSession* session)
{
    if (session->productId == kModelAscii0300) {
        SendModeCommand(session, ModeAsciiCleanup);
        GuardAt(session, RunPoint::AsciiCleanupSent);
        SendModeCommand(session, ModeEndCalibration);
        GuardAt(session, RunPoint::Left);
    }
}
