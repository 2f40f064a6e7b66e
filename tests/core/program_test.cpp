#include <gtest/gtest.h>

#include "app/session_driver.h"
#include "common/shared_state.h"
#include "common/strings.h"
#include "core/test_support.h"
#include "inproc/inproc_hid.h"

namespace {

TEST(OutcomeMapping, CodesAreComparedUnsigned)
{
    EXPECT_EQ(MessageForResult(0), 1008u);
    EXPECT_EQ(MessageForResult(1), 1004u);
    EXPECT_EQ(MessageForResult(2), 1006u);
    EXPECT_EQ(MessageForResult(3), 1005u);
    EXPECT_EQ(MessageForResult(4), 1007u);
    EXPECT_EQ(MessageForResult(5), 1003u);
    EXPECT_EQ(MessageForResult(6), 1005u);
    EXPECT_EQ(MessageForResult(static_cast<std::uint32_t>(-1)), 1005u);
}

TEST(StringTable, HoldsEveryMessageVerbatim)
{
    EXPECT_STREQ(FindTableString(1001), "Calibration");
    EXPECT_STREQ(FindTableString(1003), "Calibration terminated by user.");
    EXPECT_STREQ(FindTableString(1004), "Cannot open touch screen driver.");
    EXPECT_STREQ(FindTableString(1005), "Cannot start calibration.");
    EXPECT_STREQ(FindTableString(1006), "Cannot write to touch screen controller.");
    EXPECT_STREQ(FindTableString(1007), "Invalid touch.");
    EXPECT_STREQ(FindTableString(1008), "Calibration completed successfully.");
    EXPECT_STREQ(FindTableString(1009), "Cannot find Qavel touch controller.");
    EXPECT_EQ(FindTableString(1002), nullptr);
}

using Program = WorldTest;

TEST_F(Program, NoControllerShowsOnlyItsMessage)
{
    world = StartWorld("device 0596:0101\n");
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(RecordedMessages(),
              std::vector<std::string>(
                  {"message error \"Error\" \"Cannot find Qavel touch controller.\""}));
    EXPECT_FALSE(CalibrationWindowEverCreated());
}

TEST_F(Program, AWindowThatCannotBeCreatedMeansCannotStart)
{
    RecordingDisplayOptions options;
    options.failWindow = true;
    world = StartWorld("device 0596:0102\n", options);
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(RecordedMessages(),
              std::vector<std::string>({"message error \"Error\" \"Cannot start calibration.\""}));
    EXPECT_TRUE(RecordedEvents().empty()) << "no window, nothing destroyed";
    EXPECT_EQ(Transfers(world), std::vector<std::string>({"set 03 8 ok 03 05 00 00 07 00 00 00"}))
        << "the controller is still closed properly";
    EXPECT_EQ(TimeOf(TranscriptLines(world).back()), 1100u) << "after its whole pauses";
}

TEST_F(Program, PausesCountFromWhenTheControllerWentQuiet)
{
    RecordingDisplayOptions options;
    options.windowTakesMs = 40;
    options.postTakesMs = 30;
    world = StartWorld("device 0596:0102\ntouch -1536 -1536\ntouch 1536 1536\n", options);
    EXPECT_EQ(RunProgram(), 0);
    const std::vector<std::string> lines = TranscriptLines(world);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(TimeOf(lines[0]), 100u) << "the window is made within the first pause";
    EXPECT_EQ(TimeOf(lines[1]) - TimeOf(lines[0]), 100u) << "and target 1 posted within the next";
    std::size_t next = 1;
    while (next < lines.size() && TimeOf(lines[next]) - TimeOf(lines[next - 1]) <= 100) {
        ++next;
    }
    ASSERT_LT(next, lines.size());
    EXPECT_EQ(TimeOf(lines[next]) - TimeOf(lines[next - 1]), 1000u + 100u)
        << "the posts fall within the pause after target 1, which keeps the transfer's own whole";
}

TEST_F(Program, WithoutTheCaptionStringNothingIsEverShown)
{
    RecordingDisplayOptions options;
    options.missingStrings = {1001};
    world = StartWorld("", options);
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(RecordedMessages(), std::vector<std::string>({"message none"}));

    EndWorld(&world);
    world = StartWorld("device 0596:0003\n", options);
    EXPECT_EQ(RunProgram(), 0) << "the window needs the same string and is never created";
    EXPECT_FALSE(CalibrationWindowEverCreated());
    EXPECT_EQ(RecordedMessages(), std::vector<std::string>({"message none"}));
    EXPECT_EQ(SimInprocOpenCount(), 0);
}

TEST_F(Program, AMissingTextOrAFailedFormatShowsNothingButEndsNormally)
{
    RecordingDisplayOptions options;
    options.missingStrings = {1009};
    world = StartWorld("", options);
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(RecordedMessages(), std::vector<std::string>({"message none"}));

    EndWorld(&world);
    options = {};
    options.failFormat = true;
    world = StartWorld("device 0596:0003\nstatus-touch\nstatus-touch\n", options);
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(RecordedMessages(), std::vector<std::string>({"message none"}));
    EXPECT_EQ(SimInprocOpenCount(), 0);
}

TEST_F(Program, TheWindowIsGoneBeforeTheMessageAndTheControllerClosedAfter)
{
    world = StartWorld("device 0596:0102\n");
    EXPECT_EQ(RunProgram(), 0);
    const auto events = RecordedEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_NE(events.back().find("window closed"), std::string::npos);
    const auto transfers = Transfers(world);
    // Finish sends mode 7 at the end of the run and close sends it again a second later.
    EXPECT_EQ(Matching(transfers, "set 03 8 ok 03 05 00 00 07").size(), 2u);
}

}  // namespace
