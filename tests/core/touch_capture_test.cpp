#include <gtest/gtest.h>

#include "common/shared_state.h"
#include "calibration/touch_capture.h"
#include "controller/transport.h"
#include "core/test_support.h"
#include "inproc/virtual_clock.h"

namespace {

TEST(RawReport, DecodesBothSlotsWithTheirStatusBits)
{
    const std::uint8_t report[8] = {0x08, 0x53, 0x12, 0x34, 0x25, 0xE0, 0xFF, 0x7F};
    RawSample s1{};
    RawSample s2{};
    DecodeRawReport(report, &s1, &s2);
    EXPECT_TRUE(s1.present);
    EXPECT_TRUE(s1.touching);
    EXPECT_EQ(s1.x, 293);
    EXPECT_EQ(s1.y, 1332);
    EXPECT_TRUE(s2.present);
    EXPECT_FALSE(s2.touching);
    EXPECT_EQ(s2.x, -32);
    EXPECT_EQ(s2.y, 2047);

    // Touching bits without presence bits: neither slot holds a sample.
    const std::uint8_t touchingOnly[8] = {0x08, 0x01, 0x12, 0x34, 0x10, 0xE0, 0xFF, 0x7F};
    DecodeRawReport(touchingOnly, &s1, &s2);
    EXPECT_FALSE(s1.present);
    EXPECT_TRUE(s1.touching);
    EXPECT_FALSE(s2.present);
    EXPECT_TRUE(s2.touching);
}

TEST(RawReport, TwelveBitFieldsAreTwosComplement)
{
    // Slot 1 x = 0x800, y = 0xFFF; slot 2 x = 0x7FF, y = 0x000.
    const std::uint8_t report[8] = {0x08, 0x02, 0x80, 0xFF, 0x2F, 0xFF, 0x07, 0x00};
    RawSample s1{};
    RawSample s2{};
    DecodeRawReport(report, &s1, &s2);
    EXPECT_EQ(s1.x, -2048);
    EXPECT_EQ(s1.y, -1);
    EXPECT_FALSE(s1.touching);
    EXPECT_EQ(s2.x, 2047);
    EXPECT_EQ(s2.y, 0);
    EXPECT_TRUE(s2.present);
}

class RawCapture : public SessionTest {
protected:
    void Start(const std::string& touches)
    {
        SessionTest::Start("device 0596:0102\n" + touches);
    }
    int Beeps() const
    {
        return static_cast<int>(Matching(WithoutTimes(RecordedEvents()), "beep").size());
    }
};

TEST_F(RawCapture, ThirtyTwoSamplesAreEnoughAndThirtyOneAreNot)
{
    Start("touch 100 -200 samples=32\ntouch 100 -200 samples=31\n");
    ASSERT_NE(CaptureRawTouch(session), 0);
    EXPECT_EQ(session->pointCount, 1);
    EXPECT_EQ(session->x[0], 100);
    EXPECT_EQ(session->y[0], -200);
    EXPECT_EQ(Beeps(), 1);

    EXPECT_EQ(CaptureRawTouch(session), 0);
    EXPECT_EQ(session->pointCount, 1);
    EXPECT_EQ(Beeps(), 1) << "31 samples never fill the ring, so no beep";
}

TEST_F(RawCapture, OneSamplePerReportWorksToo)
{
    Start("touch -700 650 samples=32 per-report=1\n");
    ASSERT_NE(CaptureRawTouch(session), 0);
    EXPECT_EQ(session->x[0], -700);
    EXPECT_EQ(session->y[0], 650);
}

TEST_F(RawCapture, TrimmedMeanOfTheOldest25)
{
    // Offsets -J, 0, +J repeat; over samples 0..24 they sum to -J, and one maximum (+J) and one
    // minimum (-J) are dropped: (23 X - J) / 23. The newer samples, far off, must not count.
    Start("touch 100 100 samples=32 jitter=30\ntouch 100 -100 samples=33 jitter=30\n");
    ASSERT_NE(CaptureRawTouch(session), 0);
    EXPECT_EQ(session->x[0], (23 * 100 - 30) / 23);
    EXPECT_EQ(session->y[0], 98);

    // The oldest 25 of 33 samples (1 to 25) balance out at the touch; a 26th (+J) would not.
    ASSERT_NE(CaptureRawTouch(session), 0);
    EXPECT_EQ(session->x[1], 100);
    EXPECT_EQ(session->y[1], -100);
}

TEST_F(RawCapture, DivisionTruncatesTowardZero)
{
    // Samples -3, -2, -1: trimmed sum -47, so -2 and not -3.
    Start("touch -2 -2 samples=32 jitter=1\n");
    ASSERT_NE(CaptureRawTouch(session), 0);
    EXPECT_EQ(session->x[0], -2);
    EXPECT_EQ(session->y[0], -2);
}

TEST_F(RawCapture, SpreadOfSixtyPassesAndSixtyOneFails)
{
    // Near the top of the range the upper sample is clamped to 2047: spreads 60 and 61, on both
    // axes alike.
    Start("touch 2017 2017 samples=40 jitter=30\ntouch 2017 2017 samples=40 jitter=31\n");
    EXPECT_NE(CaptureRawTouch(session), 0);
    EXPECT_EQ(CaptureRawTouch(session), 0);
    EXPECT_EQ(session->pointCount, 1) << "a rejected touch stores nothing";
}

TEST_F(RawCapture, OneBeepHoweverLongTheTouch)
{
    Start("touch 0 0 samples=200\n");
    ASSERT_NE(CaptureRawTouch(session), 0);
    EXPECT_EQ(Beeps(), 1);
}

TEST_F(RawCapture, ALiftBeforeAnySampleIsIgnored)
{
    // A one-sample touch is nothing but a lift sample.
    Start("touch 500 500 samples=1\ntouch -300 -300 samples=40\n");
    ASSERT_NE(CaptureRawTouch(session), 0);
    EXPECT_EQ(session->x[0], -300);
}

TEST_F(RawCapture, FailedReadsWhileSamplingAreRetriedByPolling)
{
    Start("touch 10 20 samples=40\nrefuse get 8 times=15 from=4\n");
    ASSERT_NE(CaptureRawTouch(session), 0);
    EXPECT_EQ(session->x[0], 10);
}

TEST_F(RawCapture, AFailedReadWhileWaitingForReleaseEndsTheCapture)
{
    Start("touch 10 20\nrefuse get 8\n");
    EXPECT_EQ(CaptureRawTouch(session), 0);
    EXPECT_EQ(VirtualNowMs(), 1000u);
}

TEST_F(RawCapture, NoTouchTimesOutAfterTwentySeconds)
{
    Start("");
    EXPECT_EQ(CaptureRawTouch(session), 0);
    // The time-out counts whole calendar seconds from the start of sampling, early in its second.
    EXPECT_GE(VirtualNowMs(), 21000u);
    EXPECT_LT(VirtualNowMs(), 21200u);
}

TEST_F(RawCapture, AFingerThatNeverLiftsCannotHoldTheReleasedScreenWait)
{
    Start("touch 10 20 samples=100000 rest=0\n");
    EXPECT_EQ(CaptureRawTouch(session), 0);
    EXPECT_GE(VirtualNowMs(), 21000u);
    EXPECT_LT(VirtualNowMs(), 21200u);
}

TEST_F(RawCapture, EscapeEndsEitherWait)
{
    Start("touch 10 20 samples=100000 rest=0\n");
    VirtualClockSchedule(3000, [] { abortRequested.store(1); });
    EXPECT_EQ(CaptureRawTouch(session), 0);
    EXPECT_LT(VirtualNowMs(), 3200u) << "the released-screen wait looks at the flag";

    abortRequested.store(0);
    Finish();
    Start("");
    VirtualClockSchedule(5000, [] { abortRequested.store(1); });
    EXPECT_EQ(CaptureRawTouch(session), 0);
    EXPECT_LT(VirtualNowMs(), 5200u) << "so does the sampling";
}

TEST_F(RawCapture, ASessionWithThreePointsTakesNoFourth)
{
    Start("touch 10 20\n");
    session->pointCount = 3;
    EXPECT_EQ(CaptureRawTouch(session), 0);
    EXPECT_TRUE(Transfers(world).empty());
}

using StatusWait = SessionTest;

TEST_F(StatusWait, FollowsProgressThroughBothTargets)
{
    Start("device 0596:0003\nstatus-touch after=3\nstatus-touch after=2\n");
    ASSERT_TRUE(SendStartCommand(session));
    EXPECT_NE(WaitControllerStatus(session, 1), 0);
    EXPECT_NE(WaitControllerStatus(session, 2), 0);
    for (const auto& line : Matching(Transfers(world), "get")) {
        EXPECT_EQ(line.rfind("get 80 20 ok 80", 0), 0u) << line;
    }
}

TEST_F(StatusWait, Model0400ReadsItsOwnReport)
{
    Start("device 0596:0400\nstatus-touch after=1\n");
    ASSERT_TRUE(SendStartCommand(session));
    EXPECT_NE(WaitControllerStatus(session, 1), 0);
    EXPECT_FALSE(Matching(Transfers(world), "get 06 64 ok 06").empty());
}

TEST_F(StatusWait, UnexpectedProgressFailsAtOnce)
{
    Start("device 0596:0003\nstatus-touch after=1\nstatus-touch after=1\n");
    const std::uint64_t before = VirtualNowMs();
    EXPECT_EQ(WaitControllerStatus(session, 1), 0) << "progress 0: not in calibration";
    EXPECT_EQ(VirtualNowMs() - before, 100u);

    ASSERT_TRUE(SendStartCommand(session));
    EXPECT_EQ(WaitControllerStatus(session, 2), 0) << "progress 1 while target 2 is awaited";
    EXPECT_NE(WaitControllerStatus(session, 1), 0);
    EXPECT_NE(WaitControllerStatus(session, 2), 0);
    EXPECT_EQ(WaitControllerStatus(session, 1), 0) << "progress 3 while target 1 is awaited";
    // There is no target 3 to wait for: progress 3 does not keep it polling.
    const std::uint64_t third = VirtualNowMs();
    EXPECT_EQ(WaitControllerStatus(session, 3), 0);
    EXPECT_EQ(VirtualNowMs() - third, 100u);
}

TEST_F(StatusWait, TimeOutAndAbort)
{
    Start("device 0596:0400\n");
    ASSERT_TRUE(SendStartCommand(session));
    // More than 20 whole seconds: the first poll 21 calendar seconds on gives up, none before.
    const std::uint64_t timedOut = (VirtualNowMs() / 1000 + 21) * 1000;
    EXPECT_EQ(WaitControllerStatus(session, 1), 0);
    EXPECT_GE(VirtualNowMs(), timedOut);
    EXPECT_LT(VirtualNowMs(), timedOut + 200);

    VirtualClockSchedule(VirtualNowMs() + 700, [] { abortRequested.store(1); });
    const std::uint64_t second = VirtualNowMs();
    EXPECT_EQ(WaitControllerStatus(session, 1), 0);
    EXPECT_LE(VirtualNowMs() - second, 800u);
}

TEST_F(StatusWait, OtherModelsFailWithoutTraffic)
{
    Start("device 0596:0300\n");
    EXPECT_EQ(WaitControllerStatus(session, 1), 0);
    EXPECT_TRUE(Transfers(world).empty());
}

}  // namespace
