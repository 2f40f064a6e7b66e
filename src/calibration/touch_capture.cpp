#include "calibration/touch_capture.h"

#include "common/shared_state.h"
#include "controller/transport.h"
#include "platform/clock.h"
#include "platform/display.h"

namespace {

constexpr std::uint8_t kRawReport = 8;
constexpr std::uint32_t kRawReportLength = 8;
constexpr std::int64_t kTimeoutSeconds = 20;
constexpr int kRingSize = 32;
constexpr int kReducedSamples = 25;
constexpr std::int32_t kMaxSpread = 60;

std::int32_t SignExtend12(std::uint32_t value)
{
    return (value & 0x800) != 0 ? static_cast<std::int32_t>(value) - 4096
                                : static_cast<std::int32_t>(value);
}

bool AbortSeen()
{
    return abortRequested.load() != 0;
}

struct SampleRing {
    std::int32_t x[kRingSize];
    std::int32_t y[kRingSize];
    int position;
    bool filled;
    bool beepPending;
    bool noSampleYet;
};

void StoreSample(SampleRing* ring, const RawSample& sample)
{
    ring->x[ring->position] = sample.x;
    ring->y[ring->position] = sample.y;
    ring->noSampleYet = false;
    if (++ring->position == kRingSize) {
        ring->position = 0;
        ring->filled = true;
        if (ring->beepPending) {
            SystemBeep();
            ring->beepPending = false;
        }
    }
}

// Trimmed mean of the oldest 25 of the 32 held samples; false when they spread too far.
bool ReduceAxis(const std::int32_t* values, int start, std::int32_t* out)
{
    std::int32_t sum = 0;
    std::int32_t maximum = values[start];
    std::int32_t minimum = values[start];
    for (int k = 0; k < kReducedSamples; ++k) {
        const std::int32_t v = values[(start + k) % kRingSize];
        sum += v;
        if (v > maximum) {
            maximum = v;
        } else if (v < minimum) {
            minimum = v;
        }
    }
    if (maximum - minimum > kMaxSpread) {
        return false;
    }
    *out = (sum - maximum - minimum) / (kReducedSamples - 2);
    return true;
}

// A finger still down from the previous target must lift first. Bounded like the sampling, so a
// controller that never reports a released screen cannot hold the worker, and Esc still works.
bool WaitForReleasedScreen(ControllerSession* session)
{
    const std::int64_t start = CalendarSeconds();
    for (;;) {
        std::uint8_t report[kRawReportLength] = {};
        report[0] = kRawReport;
        if (!GetFeatureRetry(session, report, kRawReportLength)) {
            return false;
        }
        if ((report[1] & 0x02) == 0) {
            return true;
        }
        if (CalendarSeconds() - start > kTimeoutSeconds) {
            return false;
        }
        YieldThread();
        if (AbortSeen()) {
            return false;
        }
    }
}

}  // namespace

void DecodeRawReport(const std::uint8_t (&report)[8], RawSample* slot1, RawSample* slot2)
{
    slot1->touching = (report[1] & 0x01) != 0;
    slot1->present = (report[1] & 0x02) != 0;
    slot1->x = SignExtend12((report[1] >> 4) | (static_cast<std::uint32_t>(report[2]) << 4));
    slot1->y = SignExtend12(report[3] | (static_cast<std::uint32_t>(report[4] & 0x0F) << 8));
    slot2->touching = (report[4] & 0x10) != 0;
    slot2->present = (report[4] & 0x20) != 0;
    slot2->x = SignExtend12(report[5] | (static_cast<std::uint32_t>(report[6] & 0x0F) << 8));
    slot2->y = SignExtend12((report[6] >> 4) | (static_cast<std::uint32_t>(report[7]) << 4));
}

ProgressVerdict JudgeProgress(std::int8_t progress, int pointNumber)
{
    // Progress counts accepted targets plus one: waiting means "still at ours".
    if (pointNumber != 1 && pointNumber != 2) {
        return ProgressVerdict::Failed;
    }
    if (progress == pointNumber + 1) {
        return ProgressVerdict::Accepted;
    }
    return progress == pointNumber ? ProgressVerdict::KeepPolling : ProgressVerdict::Failed;
}

int CaptureRawTouch(ControllerSession* session)
{
    // The session holds three points; a fourth would be written past them.
    if (session->pointCount < 0 || session->pointCount >= 3) {
        return 0;
    }
    if (!WaitForReleasedScreen(session)) {
        return 0;
    }

    const std::int64_t start = CalendarSeconds();
    SampleRing ring{};
    ring.position = 0;
    ring.filled = false;
    ring.beepPending = true;
    ring.noSampleYet = true;
    bool lifted = false;
    YieldThread();
    if (AbortSeen()) {
        return 0;
    }

    for (;;) {
        std::uint8_t report[kRawReportLength] = {};
        report[0] = kRawReport;
        if (GetFeatureRetry(session, report, kRawReportLength)) {
            RawSample slots[2];
            DecodeRawReport(report, &slots[0], &slots[1]);
            for (int s = 0; s < 2; ++s) {
                if (!slots[s].present) {
                    continue;
                }
                lifted = !slots[s].touching;
                if (lifted && ring.noSampleYet) {
                    // A lift before any sample belongs to no touch of ours.
                    lifted = false;
                    continue;
                }
                StoreSample(&ring, slots[s]);
            }
            if (lifted) {
                break;
            }
        }
        if (CalendarSeconds() - start > kTimeoutSeconds) {
            return 0;
        }
        YieldThread();
        if (AbortSeen()) {
            return 0;
        }
    }

    if (!ring.filled) {
        return 0;
    }
    std::int32_t x = 0;
    std::int32_t y = 0;
    if (!ReduceAxis(ring.x, ring.position, &x) || !ReduceAxis(ring.y, ring.position, &y)) {
        return 0;
    }
    session->x[session->pointCount] = x;
    session->y[session->pointCount] = y;
    ++session->pointCount;
    return 1;
}

int WaitControllerStatus(ControllerSession* session, int pointNumber)
{
    const std::int64_t start = CalendarSeconds();
    std::uint8_t reportId = 0;
    std::uint32_t length = 0;
    int progressByte = 0;
    if (session->productId == kModelStatus0003) {
        reportId = 0x80;
        length = 20;
        progressByte = 3;
    } else if (session->productId == kModelStatus0400) {
        reportId = 6;
        length = 64;
        progressByte = 2;
    } else {
        return 0;
    }

    YieldThread();
    if (AbortSeen()) {
        return 0;
    }
    std::uint8_t report[64] = {};
    for (;;) {
        report[0] = reportId;
        if (GetFeatureRetry(session, report, length)) {
            const auto progress = static_cast<std::int8_t>(report[progressByte]);
            const ProgressVerdict verdict = JudgeProgress(progress, pointNumber);
            if (verdict != ProgressVerdict::KeepPolling) {
                return verdict == ProgressVerdict::Accepted ? 1 : 0;
            }
        }
        if (CalendarSeconds() - start > kTimeoutSeconds) {
            return 0;
        }
        YieldThread();
        if (AbortSeen()) {
            return 0;
        }
    }
}
