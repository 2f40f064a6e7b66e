#include "controller/abort_ending.h"

#include <cstring>

#include "controller/transport.h"

namespace {

// The 1 s an abort leaves the ASCII model to save before its cleanup.
constexpr std::uint32_t kAsciiSavePauseMs = 1000;

void Add(GuardianPlan* plan, const std::uint8_t* report, std::uint32_t length,
         std::uint32_t pauseMs = 0)
{
    GuardianStep& step = plan->steps[plan->count++];
    step.pauseMs = pauseMs;
    step.length = length;
    std::memcpy(step.report, report, length);
}

void AddMode(GuardianPlan* plan, std::uint8_t mode, std::uint32_t pauseMs = 0)
{
    std::uint8_t report[8];
    ModeCommandReport(mode, report);
    Add(plan, report, sizeof report, pauseMs);
}

}  // namespace

GuardianPlan AbortEndingAt(std::uint32_t productId, RunPoint point)
{
    GuardianPlan plan{};
    switch (productId) {
    case kModelStatus0003:
        if (point == RunPoint::Calibrating) {
            const std::uint8_t stop[8] = {0x10, 0x12, 1, 0, 0, 0, 0, 0};
            Add(&plan, stop, sizeof stop);
        }
        break;
    case kModelRaw0100:
    case kModelRaw0102:
        // The closing sends the end mode once more after the finish's.
        if (point == RunPoint::Calibrating || point == RunPoint::Finished) {
            AddMode(&plan, ModeEndCalibration);
        }
        break;
    case kModelStatus0400:
        if (point == RunPoint::Calibrating) {
            AddMode(&plan, ModeEndCalibration);
        }
        break;
    case kModelAscii0300:
        if (point == RunPoint::Calibrating) {
            // "R", as SendAsciiCommand frames it; the controller then saves for a second.
            std::uint8_t save[64] = {9, 0x0A, 3};
            save[8] = 0x01;
            save[9] = 'R';
            save[10] = 0x0D;
            Add(&plan, save, sizeof save);
        }
        if (point == RunPoint::Calibrating || point == RunPoint::AsciiSaving) {
            AddMode(&plan, ModeAsciiCleanup, kAsciiSavePauseMs);
        } else if (point == RunPoint::Finished) {
            AddMode(&plan, ModeAsciiCleanup);
        }
        if (point != RunPoint::Left) {
            AddMode(&plan, ModeEndCalibration);
        }
        break;
    default: break;
    }
    return plan;
}

void GuardAt(const ControllerSession* session, RunPoint point)
{
    GuardianArm(AbortEndingAt(session->productId, point));
}
