#include "controller/transport.h"

#include <algorithm>

#include "platform/clock.h"

namespace {

constexpr int kAttempts = 10;
constexpr std::uint32_t kPauseBeforeAttemptMs = 100;
constexpr std::int64_t kPauseBeforeAttemptUs = std::int64_t{kPauseBeforeAttemptMs} * 1000;

// The pause is the controller's quiet time, so what the run did since it went quiet is part of
// it, not added to it.
void PauseBeforeAttempt(ControllerSession* session)
{
    const QuietMark mark = session->quietMark;
    session->quietMark = QuietMark::None;
    const std::int64_t until = session->quietSinceUs + kPauseBeforeAttemptUs;
    if (mark == QuietMark::Opened || (mark == QuietMark::StepEnded && MonotonicUs() < until)) {
        PauseUntilUs(until);
        return;
    }
    PauseMs(kPauseBeforeAttemptMs);
}

bool SendCommandReport(ControllerSession* session, const std::uint8_t (&report)[8])
{
    return SetFeatureRetry(session, report, sizeof report);
}

}  // namespace

bool SetFeatureRetry(ControllerSession* session, const std::uint8_t* buffer, std::uint32_t length)
{
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        PauseBeforeAttempt(session);
        const bool sent = HidSetFeature(session->device, buffer, length);
        MarkQuietSince(session, MonotonicUs());
        if (sent) {
            return true;
        }
    }
    return false;
}

bool GetFeatureRetry(ControllerSession* session, std::uint8_t* buffer, std::uint32_t length)
{
    // A failed attempt may have scribbled over the buffer; every attempt asks for the same report.
    const std::uint8_t reportId = buffer[0];
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        PauseBeforeAttempt(session);
        buffer[0] = reportId;
        const bool received = HidGetFeature(session->device, buffer, length);
        MarkQuietSince(session, MonotonicUs());
        if (received) {
            return true;
        }
    }
    return false;
}

void MarkQuietSince(ControllerSession* session, std::int64_t sinceUs)
{
    session->quietMark = QuietMark::StepEnded;
    session->quietSinceUs = sinceUs;
}

void ModeCommandReport(std::uint8_t mode, std::uint8_t (&report)[8])
{
    const std::uint8_t command[8] = {3, 5, 0, 0, mode, 0, 0, 0};
    std::copy(command, command + 8, report);
}

bool SendModeCommand(ControllerSession* session, std::uint8_t mode)
{
    std::uint8_t report[8];
    ModeCommandReport(mode, report);
    return SendCommandReport(session, report);
}

bool SendStartCommand(ControllerSession* session)
{
    if (session->productId == kModelStatus0003) {
        const std::uint8_t report[8] = {0x10, 0x11, 1, 0, 0, 0, 0, 0};
        return SendCommandReport(session, report);
    }
    if (session->productId == kModelStatus0400) {
        const std::uint8_t report[8] = {3, 4, 1, 0, 0, 0, 0, 0};
        if (!SendCommandReport(session, report)) {
            return false;
        }
        PauseMs(1000);
        return true;
    }
    return false;
}

bool SendStopCommand(ControllerSession* session)
{
    const std::uint8_t report[8] = {0x10, 0x12, 1, 0, 0, 0, 0, 0};
    return SendCommandReport(session, report);
}
