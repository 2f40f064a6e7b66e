// The decoding of raw touch reports and progress bytes, and a whole raw capture or progress wait
// against a device whose answers come from the fuzzer.
// Input: selector, calendar offset, an 8-byte report to decode, then the device's answers.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "calibration/touch_capture.h"
#include "fake_device.h"
#include "sim_reports.h"

namespace {

// Released-screen wait and sampling, each up to 20 s and overrun by one poll of ten attempts.
constexpr std::uint64_t kCaptureBoundMs = 45 * 1000;

void RequireDecodeRoundTrip(const std::uint8_t (&report)[8])
{
    RawSample slots[2];
    DecodeRawReport(report, &slots[0], &slots[1]);
    for (const RawSample& s : slots) {
        FuzzRequire(s.x >= -2048 && s.x <= 2047 && s.y >= -2048 && s.y <= 2047,
                    "a coordinate outside 12 bits");
    }
    // Packing the decoded slots again gives back every bit the layout defines.
    SimRawSample packed[2];
    for (int i = 0; i < 2; ++i) {
        packed[i] = {slots[i].present, slots[i].touching, slots[i].x, slots[i].y};
    }
    std::uint8_t again[8];
    SimPackRawReport(packed[0], packed[1], again);
    // The present bits always count; the rest of a slot only when it is present.
    const std::uint8_t slot1Bits[8] = {0, 0xF3, 0xFF, 0xFF, 0x0F, 0, 0, 0};
    const std::uint8_t slot2Bits[8] = {0, 0, 0, 0, 0x30, 0xFF, 0xFF, 0xFF};
    const std::uint8_t presentBits[8] = {0, 0x02, 0, 0, 0x20, 0, 0, 0};
    for (int b = 1; b < 8; ++b) {
        const std::uint8_t mask =
            static_cast<std::uint8_t>(presentBits[b] | (slots[0].present ? slot1Bits[b] : 0) |
                                      (slots[1].present ? slot2Bits[b] : 0));
        FuzzRequire((again[b] & mask) == (report[b] & mask), "a report bit decoded wrongly");
    }
}

void RequireProgressTable(std::int8_t progress)
{
    for (int target = 0; target <= 3; ++target) {
        const ProgressVerdict v = JudgeProgress(progress, target);
        ProgressVerdict expected = ProgressVerdict::Failed;
        if (target == 1 || target == 2) {
            if (progress == target) {
                expected = ProgressVerdict::KeepPolling;
            } else if (progress == target + 1) {
                expected = ProgressVerdict::Accepted;
            }
        }
        FuzzRequire(v == expected, "a progress byte judged against the table");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 10) {
        return 0;
    }
    std::uint8_t report[8];
    std::memcpy(report, data + 2, sizeof report);
    RequireDecodeRoundTrip(report);
    RequireProgressTable(static_cast<std::int8_t>(data[2]));

    const int selector = data[0] % 4;
    const std::uint16_t product = selector == 0   ? 0x0100
                                  : selector == 1 ? 0x0102
                                  : selector == 2 ? 0x0003
                                                  : 0x0400;
    FakeReset(data + 10, size - 10, product, (data[1] * 4u) % 1000, 0);
    ControllerSession* session = OpenController();
    FuzzRequire(session != nullptr, "the one supported controller not opened");
    if (selector < 2) {
        session->pointCount = (data[0] >> 2) % 4;
        const std::int32_t before = session->pointCount;
        const int ok = CaptureRawTouch(session);
        if (ok != 0) {
            FuzzRequire(before < 3 && session->pointCount == before + 1, "a point not counted");
            const std::int32_t x = session->x[before];
            const std::int32_t y = session->y[before];
            FuzzRequire(x >= -2048 && x <= 2047 && y >= -2048 && y <= 2047,
                        "a measured point outside controller units");
        } else {
            FuzzRequire(session->pointCount == before, "a failed capture counted a point");
        }
        std::size_t good = 0;
        for (const FakeTransfer& t : FakeLog()) {
            FuzzRequire(!t.set && t.id == 8 && t.length == 8, "a capture sent something else");
            good += t.ok ? 1 : 0;
        }
        FuzzRequire(ok == 0 || good >= 16, "a touch taken from fewer than 16 reports");
    } else {
        const int target = 1 + (data[0] >> 2) % 2;
        WaitControllerStatus(session, target);
        for (const FakeTransfer& t : FakeLog()) {
            FuzzRequire(!t.set, "a progress wait sent something");
        }
    }
    FuzzRequire(FakeNowMs() <= kCaptureBoundMs, "a capture outlasts its time limit");
    RequireRetryPolicy(FakeLog());
    session->productId = kModelStatus0003;  // closes without traffic
    CloseController(session);
    return 0;
}
