#include <gtest/gtest.h>

#include <algorithm>

#include "app/session_driver.h"
#include "common/shared_state.h"
#include "core/test_support.h"
#include "inproc/inproc_hid.h"
#include "inproc/virtual_clock.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct RunOutcome {
    std::vector<std::string> events;     // "<ms> ..." lines
    std::vector<std::string> messages;   // "message ..." lines
    std::vector<std::string> transfers;  // transcript lines without times
};

// The whole program, entry to outcome message, with Esc pressed at escapeAtMs (0: never).
RunOutcome RunWhole(const std::string& scenario, std::uint64_t escapeAtMs = 0)
{
    SimWorld world = StartWorld(scenario);
    if (escapeAtMs != 0) {
        VirtualClockSchedule(escapeAtMs, [] { PressEscape(); });
    }
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(SimInprocOpenCount(), 0) << "the controller is closed at the end";
    RunOutcome outcome{RecordedEvents(), RecordedMessages(), Transfers(world)};
    EndWorld(&world);
    return outcome;
}

// Events without their times, minus the window's own lines.
std::vector<std::string> Visible(const std::vector<std::string>& events)
{
    std::vector<std::string> out;
    for (const auto& e : events) {
        const std::string what = WithoutTime(e);
        if (what.rfind("window", 0) != 0) {
            out.push_back(what);
        }
    }
    return out;
}

const std::string kSuccess =
    "message information \"Calibration\" \"Calibration completed successfully.\"";
const std::string kAbort =
    "message information \"Calibration\" \"Calibration terminated by user.\"";
const std::string kInvalid = "message error \"Error\" \"Invalid touch.\"";

TEST(WholeRun, Model0102TwoTargetsThenTheStoredPage)
{
    const RunOutcome run = RunWhole("device 0596:0102\ntouch -1536 -1536\ntouch 1536 1536\n");
    EXPECT_EQ(run.messages, std::vector<std::string>({kSuccess}));
    EXPECT_EQ(Visible(run.events),
              std::vector<std::string>({"target 0.125 0.125 green", "beep", "beep",
                                        "target 0.125 0.125 red", "target 0.875 0.875 green",
                                        "beep", "beep", "target 0.875 0.875 red"}))
        << "one beep from the capture at 32 samples, one from the sequence; no third target";

    const std::vector<std::string>& t = run.transfers;
    ASSERT_GE(t.size(), 8u);
    EXPECT_EQ(t.front(), "set 03 8 ok 03 05 00 00 05 00 00 00");
    const auto pageWrites = Matching(t, "set 05 72 ok 05 01 00 00 01 00 1a 00");
    ASSERT_EQ(pageWrites.size(), 1u);
    const TranscriptTransfer page = ParseTransfer(pageWrites[0]);
    EXPECT_EQ(BytesAt(page, 8, 8), Bytes({0x00, 0x01, 0x07, 0xfe, 0x00, 0x01, 0x07, 0xfe}))
        << pageWrites[0];
    EXPECT_EQ(BytesAt(page, 28, 1), Bytes({0x00})) << "orientation byte";
    EXPECT_EQ(Matching(t, "set 03 8 ok 03 02 00 00 02 00 32 00").size(), 1u)
        << "grid page read first";
    EXPECT_EQ(t[t.size() - 2], "set 03 8 ok 03 05 00 00 07 00 00 00") << "finish";
    EXPECT_EQ(t.back(), "set 03 8 ok 03 05 00 00 07 00 00 00") << "and once more at close";
}

TEST(WholeRun, PausesAfterTakenTargets)
{
    const RunOutcome run =
        RunWhole("device 0596:0100\ntouch -1536 -1536\ntouch 1536 1536\ntouch -1536 1536\n");
    EXPECT_EQ(run.messages, std::vector<std::string>({kSuccess}));
    std::vector<std::uint64_t> green;
    std::vector<std::uint64_t> red;
    for (const auto& e : run.events) {
        if (e.find(" green") != std::string::npos) {
            green.push_back(TimeOf(e));
        } else if (e.find(" red") != std::string::npos) {
            red.push_back(TimeOf(e));
        }
    }
    ASSERT_EQ(green.size(), 3u) << "model 0x0100 measures the third target";
    ASSERT_EQ(red.size(), 3u);
    EXPECT_GE(green[1] - red[0], 1000u);
    EXPECT_GE(green[2] - red[1], 500u);
    EXPECT_NE(run.events.back().find("window closed"), std::string::npos);
    EXPECT_GE(TimeOf(run.events.back()) - red[2], 500u);
    // Its grid page is cleared after the calibration page has been written.
    const auto& t = run.transfers;
    const auto clear = std::find_if(t.begin(), t.end(), [](const std::string& l) {
        return l.rfind("set 05 72 ok 05 01 00 00 02 00 32 00 00 00", 0) == 0;
    });
    const auto store = std::find_if(t.begin(), t.end(), [](const std::string& l) {
        return l.rfind("set 05 72 ok 05 01 00 00 01 00 1a 00 00 01 07 fe 00 01 07 fe", 0) == 0;
    });
    ASSERT_NE(clear, t.end());
    ASSERT_NE(store, t.end());
    EXPECT_LT(store, clear);
    EXPECT_EQ(BytesAt(ParseTransfer(*clear), 8, 64), Bytes(64, 0x00)) << *clear;
}

// Esc while a target waits, for each family of models.
struct AbortCase {
    const char* family;
    const char* scenario;
    std::uint64_t escapeAtMs;
};

class EscapeWhileATargetWaits : public ::testing::TestWithParam<AbortCase> {};

TEST_P(EscapeWhileATargetWaits, IsAUserAbort)
{
    const RunOutcome run = RunWhole(GetParam().scenario, GetParam().escapeAtMs);
    EXPECT_EQ(run.messages, std::vector<std::string>({kAbort}));
}

INSTANTIATE_TEST_SUITE_P(
    ModelFamilies, EscapeWhileATargetWaits,
    ::testing::Values(AbortCase{"raw", "device 0596:0102\n", 1500},
                      AbortCase{"status", "device 0596:0003\nstatus-touch\n", 6000},
                      AbortCase{"ascii", "device 0596:0300\nascii-touch\n", 9000}),
    [](const ::testing::TestParamInfo<AbortCase>& info) { return std::string(info.param.family); });

TEST(WholeRun, AnAbortedStatusRunIsStopped)
{
    const RunOutcome run = RunWhole("device 0596:0003\nstatus-touch\n", 6000);
    EXPECT_EQ(run.messages, std::vector<std::string>({kAbort}));
    EXPECT_EQ(Visible(run.events).back(), "target 0.875 0.875 green");
    EXPECT_EQ(run.transfers.back(), "set 10 8 ok 10 12 01 00 00 00 00 00")
        << "an aborted run is stopped";
}

TEST(WholeRun, EscapeWhileAnyOfTheThreeTargetsWaits)
{
    // Model 0x0100 with long rests: target n is waiting at about 1 s + 4 s (n - 1).
    const std::string scenario =
        "device 0596:0100\ntouch -1536 -1536 rest=10\ntouch 1536 1536 rest=10\ntouch -1536 1536 "
        "rest=40\n";
    const RunOutcome probe = RunWhole(scenario);
    ASSERT_EQ(probe.messages, std::vector<std::string>({kSuccess}));
    std::vector<std::uint64_t> green;
    for (const auto& e : probe.events) {
        if (e.find(" green") != std::string::npos) {
            green.push_back(TimeOf(e));
        }
    }
    ASSERT_EQ(green.size(), 3u);
    for (std::size_t n = 0; n < 3; ++n) {
        const RunOutcome run = RunWhole(scenario, green[n] + 300);
        EXPECT_EQ(run.messages, std::vector<std::string>({kAbort})) << "target " << n + 1;
        EXPECT_EQ(Matching(Visible(run.events), "target").size(), 2 * n + 1) << "target " << n + 1;
        EXPECT_TRUE(Matching(run.transfers, "set 05").empty()) << "nothing stored";
    }
}

TEST(WholeRun, EscapeDuringTheStartStillShowsTheFirstTarget)
{
    // Model 0x0400's start takes 1.1 s; Esc at 0.5 s is seen by the first target's wait.
    const RunOutcome run = RunWhole("device 0596:0400\nstatus-touch\nstatus-touch\n", 500);
    EXPECT_EQ(run.messages, std::vector<std::string>({kAbort}));
    EXPECT_EQ(Visible(run.events), std::vector<std::string>({"target 0.125 0.125 green"}));
}

TEST(WholeRun, OnlyAnInvalidTouchTurnsIntoAnAbort)
{
    const RunOutcome prepare = RunWhole("device 0596:0300\nrefuse set 3\n", 300);
    EXPECT_EQ(
        prepare.messages,
        std::vector<std::string>({"message error \"Error\" \"Cannot open touch screen driver.\""}));
    const RunOutcome start = RunWhole("device 0596:0003\nrefuse set 16\n", 300);
    EXPECT_EQ(start.messages,
              std::vector<std::string>(
                  {"message error \"Error\" \"Cannot write to touch screen controller.\""}));
}

TEST(WholeRun, EscapeAfterTheLastTouchKeepsTheSuccess)
{
    // The second touch ends near 5.5 s; the page is stored afterwards.
    const RunOutcome probe = RunWhole("device 0596:0102\ntouch -1536 -1536\ntouch 1536 1536\n");
    const std::uint64_t lastRed = TimeOf(probe.events[probe.events.size() - 2]);
    const RunOutcome run =
        RunWhole("device 0596:0102\ntouch -1536 -1536\ntouch 1536 1536\n", lastRed + 100);
    EXPECT_EQ(run.messages, std::vector<std::string>({kSuccess}));
}

TEST(WholeRun, FailureRowsOfTheSequence)
{
    // Prepare refused: model 0x0300 says nothing more, not even when closed.
    const RunOutcome prepare = RunWhole("device 0596:0300\nrefuse set 3\n");
    EXPECT_EQ(
        prepare.messages,
        std::vector<std::string>({"message error \"Error\" \"Cannot open touch screen driver.\""}));
    EXPECT_TRUE(Visible(prepare.events).empty());
    EXPECT_EQ(prepare.transfers.size(), 10u);

    // Start refused: no target, but finish (the stop report) still follows.
    const RunOutcome start = RunWhole("device 0596:0003\nrefuse set 16 times=10\n");
    EXPECT_EQ(start.messages,
              std::vector<std::string>(
                  {"message error \"Error\" \"Cannot write to touch screen controller.\""}));
    EXPECT_TRUE(Visible(start.events).empty());
    EXPECT_EQ(start.transfers.back(), "set 10 8 ok 10 12 01 00 00 00 00 00");

    // A touch that times out; a computation that fails.
    const RunOutcome timeout = RunWhole("device 0596:0400\n");
    EXPECT_EQ(timeout.messages, std::vector<std::string>({kInvalid}));
    EXPECT_EQ(timeout.transfers.back(), "set 03 8 ok 03 05 00 00 07 00 00 00");

    const RunOutcome compute = RunWhole("device 0596:0102\ntouch 0 -1000\ntouch 5 1000\n");
    EXPECT_EQ(compute.messages, std::vector<std::string>({kInvalid}));
    EXPECT_TRUE(Matching(compute.transfers, "set 05").empty()) << "nothing is written";

    const RunOutcome store =
        RunWhole("device 0596:0102\ntouch -1536 -1536\ntouch 1536 1536\nrefuse set 5\n");
    EXPECT_EQ(store.messages, std::vector<std::string>({kInvalid}));

    // The calibration page answered under report 0: a failed read, not a success.
    const RunOutcome wrongPage = RunWhole(
        "device 0596:0100\ntouch -1536 -1536\ntouch 1536 1536\ntouch -1536 1536\n"
        "page-read id=0\n");
    EXPECT_EQ(wrongPage.messages, std::vector<std::string>({kInvalid}));
    EXPECT_TRUE(Matching(wrongPage.transfers, "set 05").empty()) << "nothing is written";
    EXPECT_EQ(wrongPage.transfers.back(), "set 03 8 ok 03 05 00 00 07 00 00 00");
}

TEST(WholeRun, Model0300SavesUnderTheNoticeAndTwiceAfterAFailedTouch)
{
    const RunOutcome ok = RunWhole("device 0596:0300\nascii-touch\nascii-touch\n");
    EXPECT_EQ(ok.messages, std::vector<std::string>({kSuccess}));
    EXPECT_EQ(Matching(Visible(ok.events), "notice \"HID CALIBRATION WARNING\"").size(), 1u);
    const auto& t = ok.transfers;
    ASSERT_GE(t.size(), 3u);
    EXPECT_EQ(t.front(), "set 03 8 ok 03 05 00 00 08 00 00 00");
    EXPECT_EQ(t[t.size() - 2], "set 03 8 ok 03 05 00 00 0a 00 00 00");
    EXPECT_EQ(t.back(), "set 03 8 ok 03 05 00 00 07 00 00 00");

    const RunOutcome failed = RunWhole("device 0596:0300\nascii-touch\n");
    EXPECT_EQ(failed.messages, std::vector<std::string>({kInvalid}));
    const auto visible = Visible(failed.events);
    EXPECT_EQ(Matching(visible, "notice \"HID CALIBRATION WARNING\"").size(), 2u);
    EXPECT_EQ(Matching(visible, "notice closed").size(), 2u);
    EXPECT_EQ(Matching(failed.transfers, "set 09 64 ok 09 0a 03 00 00 00 00 00 01 52 0d").size(),
              2u);
}

TEST(WholeRun, StatusModelsSendNothingMoreAfterSuccess)
{
    const RunOutcome run = RunWhole("device 0596:0003\nstatus-touch\nstatus-touch\n");
    EXPECT_EQ(run.messages, std::vector<std::string>({kSuccess}));
    EXPECT_TRUE(Matching(run.transfers, "set").size() == 1u) << "only the start report";

    const RunOutcome run400 = RunWhole("device 0596:0400\nstatus-touch\nstatus-touch\n");
    EXPECT_EQ(run400.messages, std::vector<std::string>({kSuccess}));
    const auto sets = Matching(run400.transfers, "set");
    EXPECT_EQ(sets, std::vector<std::string>({"set 03 8 ok 03 04 01 00 00 00 00 00",
                                              "set 03 8 ok 03 05 00 00 07 00 00 00"}));
}

}  // namespace
