#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "common/shared_state.h"
#include "controller/ascii_tunnel.h"
#include "core/test_support.h"
#include "inproc/virtual_clock.h"

namespace {

std::array<std::uint8_t, 64> ReadReport(std::uint8_t length,
                                        std::initializer_list<std::uint8_t> payload)
{
    std::array<std::uint8_t, 64> report{};
    report[0] = 9;
    report[7] = length;
    std::size_t i = 8;
    for (const std::uint8_t b : payload) {
        report[i++] = b;
    }
    return report;
}

TEST(AsciiFrames, AReportIsIgnoredUnlessItsIdAndLengthByteAllowIt)
{
    std::uint8_t out[256] = {};
    auto report = ReadReport(3, {0x01, 0x30, 0x0D});
    EXPECT_TRUE(ExtractAsciiFrame(report.data(), 256, out));
    EXPECT_EQ(std::memcmp(out, "\x01\x30\x0D", 4), 0) << "the frame and a zero byte";

    report[7] = 0;
    EXPECT_FALSE(ExtractAsciiFrame(report.data(), 256, out)) << "length byte 0";
    report[7] = 3;
    report[0] = 8;
    EXPECT_FALSE(ExtractAsciiFrame(report.data(), 256, out)) << "another report id";
    report[0] = 9;
    EXPECT_FALSE(ExtractAsciiFrame(report.data(), 3, out)) << "length byte not below the capacity";
}

TEST(AsciiFrames, AnEndMarkerRightAfterTheStartDoesNotCloseAFrame)
{
    std::uint8_t out[256] = {};
    const auto report = ReadReport(5, {0x01, 0x0D, 0x01, 0x30, 0x0D});
    ASSERT_TRUE(ExtractAsciiFrame(report.data(), 256, out));
    EXPECT_EQ(std::memcmp(out, "\x01\x0D\x01\x30\x0D", 6), 0);

    // The exchange's search finds the body "0" behind the second start marker.
    std::uint8_t body[2] = {};
    EXPECT_TRUE(FindReplyBody(out, 256, 1, body));
    EXPECT_EQ(body[0], '0');
}

TEST(AsciiFrames, TheLengthByteNarrowsTheSearch)
{
    std::uint8_t out[256] = {};
    // A frame ending at payload position 55 is found with the whole payload searched ...
    std::array<std::uint8_t, 64> report{};
    report[0] = 9;
    report[7] = 200;
    report[8 + 50] = 0x01;
    report[8 + 51] = 0x41;
    report[8 + 55] = 0x0D;
    EXPECT_TRUE(ExtractAsciiFrame(report.data(), 256, out));
    // ... but not when capacity - n leaves fewer positions than that.
    report[7] = 210;
    EXPECT_FALSE(ExtractAsciiFrame(report.data(), 256, out));
    // An end marker right at the bound is outside it.
    report[7] = 201;
    EXPECT_FALSE(ExtractAsciiFrame(report.data(), 256, out));
}

TEST(AsciiFrames, ReplySearchTakesTheLastMatchAnywhereInTheBuffer)
{
    std::uint8_t buffer[256] = {};
    std::memcpy(buffer, "\x01\x30\x0D", 3);
    std::memcpy(buffer + 100, "\x01\x31\x0D", 3);  // left over from an earlier frame
    std::uint8_t body[2] = {};
    EXPECT_TRUE(FindReplyBody(buffer, 256, 1, body));
    EXPECT_EQ(body[0], '1');

    std::uint8_t other[256] = {};
    std::memcpy(other, "\x01\x30\x30\x0D", 4);
    EXPECT_FALSE(FindReplyBody(other, 256, 1, body)) << "a two-byte body is no one-byte reply";
}

class AsciiTunnel : public SessionTest {
protected:
    void Start(const std::string& text, std::int64_t calendarOffsetMs = kCalendarStartMs)
    {
        SessionTest::Start("device 0596:0300\n" + text, calendarOffsetMs);
    }
};

TEST_F(AsciiTunnel, CommandsGoOutIn56ByteChunks)
{
    Start("");
    std::uint8_t data[57];
    for (std::size_t i = 0; i < sizeof data; ++i) {
        data[i] = static_cast<std::uint8_t>('A' + i % 26);
    }
    ASSERT_TRUE(SendAsciiCommand(session, data, 57));
    ASSERT_TRUE(SendAsciiCommand(session, data, 56));
    const auto sets = Matching(Transfers(world), "set 09 64");
    ASSERT_EQ(sets.size(), 3u);
    using Bytes = std::vector<std::uint8_t>;
    for (const auto& set : sets) {
        EXPECT_TRUE(ParseTransfer(set).ok) << set;
    }
    EXPECT_EQ(BytesAt(ParseTransfer(sets[0]), 0, 5), Bytes({0x09, 0x0a, 0x38, 0x00, 0x00}));
    EXPECT_EQ(BytesAt(ParseTransfer(sets[1]), 0, 5), Bytes({0x09, 0x0a, 0x01, 0x00, 0x00}));
    EXPECT_EQ(BytesAt(ParseTransfer(sets[1]), 8, 3), Bytes({0x45, 0x00, 0x00}))
        << "byte 56 of the data is 'E'";
    EXPECT_EQ(BytesAt(ParseTransfer(sets[2]), 0, 5), Bytes({0x09, 0x0a, 0x38, 0x00, 0x00}));
    EXPECT_FALSE(SendAsciiCommand(session, data, 0));
    EXPECT_EQ(Transfers(world).size(), 3u);
}

TEST_F(AsciiTunnel, StartIsAcceptedOnlyWithTheBodyZero)
{
    Start("ascii-start after=4\n");
    EXPECT_TRUE(StartAsciiCalibration(session));
    const auto transfers = Transfers(world);
    EXPECT_EQ(transfers.front().rfind("set 09 64 ok 09 0a 04 00 00 00 00 00 01 43 58 0d 00", 0),
              0u);
    EXPECT_EQ(Matching(transfers, "get 09").size(), 5u) << "four empty polls, then the reply";
    Finish();

    Start("ascii-start reply=1\n");
    EXPECT_FALSE(StartAsciiCalibration(session));
}

TEST_F(AsciiTunnel, TheStartWaitEndsByWholeCalendarSeconds)
{
    // No reply: the 120 s limit ends at the first check once the seconds count has grown by 120.
    Start("ascii-start after=100000\n");
    EXPECT_FALSE(StartAsciiCalibration(session));
    const std::uint64_t atSecondStart = VirtualNowMs();
    EXPECT_GE(atSecondStart, 120000u);
    EXPECT_LT(atSecondStart, 120300u);
    Finish();

    // The reply wait starts at 100 ms, here 950 ms into a calendar second.
    Start("ascii-start after=100000\n", kCalendarStartMs + 850);
    EXPECT_FALSE(StartAsciiCalibration(session));
    EXPECT_GE(VirtualNowMs(), 119150u);
    EXPECT_LT(VirtualNowMs(), 119400u) << "begun late in its second, the wait is shorter";
}

TEST_F(AsciiTunnel, ALimitBelowASecondMakesExactlyOnePoll)
{
    Start("");
    std::uint8_t out[256];
    EXPECT_FALSE(ReadAsciiReply(session, out, sizeof out, 999));
    EXPECT_EQ(Matching(Transfers(world), "get 09").size(), 1u);
    EXPECT_EQ(VirtualNowMs(), 200u);
    // A message that the reply buffer cannot hold with its two markers is refused unpolled.
    EXPECT_FALSE(ReadAsciiMessage(session, out, 255, 999));
    EXPECT_FALSE(ReadAsciiMessage(session, nullptr, 1, 999));
    EXPECT_FALSE(ReadAsciiReply(nullptr, out, sizeof out, 999));
    EXPECT_FALSE(ReadAsciiReply(session, nullptr, sizeof out, 999));
    EXPECT_FALSE(ReadAsciiReply(session, out, 0, 999));
    EXPECT_EQ(Matching(Transfers(world), "get 09").size(), 1u);
    EXPECT_FALSE(ReadAsciiMessage(session, out, 254, 999));
    EXPECT_EQ(Matching(Transfers(world), "get 09").size(), 2u);
}

TEST_F(AsciiTunnel, AbortIsSeenAfterEveryPause)
{
    Start("");
    abortRequested.store(1);
    std::uint8_t out[256];
    EXPECT_FALSE(ReadAsciiReply(session, out, sizeof out, 20000));
    EXPECT_TRUE(Transfers(world).empty()) << "the flag is seen before the first poll";

    abortRequested.store(0);
    VirtualClockSchedule(VirtualNowMs() + 1000, [] { abortRequested.store(1); });
    EXPECT_FALSE(ReadAsciiReply(session, out, sizeof out, 20000));
    EXPECT_LT(Matching(Transfers(world), "get 09").size(), 7u);
}

TEST_F(AsciiTunnel, ATouchMessageAndAFailedWaitThatSavesFirst)
{
    Start("ascii-touch after=3\n");
    ASSERT_TRUE(StartAsciiCalibration(session));
    EXPECT_TRUE(WaitAsciiTouch(session));
    EXPECT_TRUE(RecordedEvents().empty());
    EXPECT_EQ(Matching(Transfers(world), "set").size(), 1u) << "a touch message needs no command";

    EXPECT_FALSE(WaitAsciiTouch(session));
    const auto events = RecordedEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_NE(
        events[0].find(
            "notice \"HID CALIBRATION WARNING\" \"Saving data - please do not touch the screen\""),
        std::string::npos);
    EXPECT_NE(events[1].find("notice closed"), std::string::npos);
    const auto sets = Matching(Transfers(world), "set 09");
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[1].rfind("set 09 64 ok", 0), 0u);
    EXPECT_EQ(BytesAt(ParseTransfer(sets[1]), 0, 11),
              std::vector<std::uint8_t>(
                  {0x09, 0x0a, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x52, 0x0d}));
}

}  // namespace
