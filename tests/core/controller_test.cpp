#include <gtest/gtest.h>

#include "controller/session.h"
#include "controller/transport.h"
#include "core/test_support.h"
#include "inproc/inproc_hid.h"
#include "inproc/virtual_clock.h"

namespace {

using Controller = WorldTest;

TEST_F(Controller, NoInterfacesMeansNoSessionAndNoTraffic)
{
    world = StartWorld("");
    EXPECT_EQ(OpenController(), nullptr);
    EXPECT_EQ(VirtualNowMs(), 0u) << "a failed search pauses nowhere";
    EXPECT_TRUE(Transfers(world).empty());
    EXPECT_EQ(SimInprocOpenCount(), 0);
}

TEST_F(Controller, SkipsWhatDoesNotQualifyAndTakesTheFirstThatDoes)
{
    world = StartWorld(
        "device 0596:0101\n"             // our vendor, unknown product
        "device 04d8:0102\n"             // a foreign vendor with a known product number
        "device 0596:0400 nofeatures\n"  // right identifiers, but no feature values
        "device 0596:0400\n"
        "device 0596:0003\n");
    ControllerSession* session = OpenController();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->productId, kModelStatus0400);
    EXPECT_EQ(session->pointCount, 0);
    EXPECT_EQ(SimInprocOpenCount(), 1) << "every skipped interface is closed again";
    EXPECT_TRUE(Transfers(world).empty()) << "discovery sends no report";
    CloseController(session);
    EXPECT_EQ(SimInprocOpenCount(), 0);
    EXPECT_TRUE(Transfers(world).empty()) << "closing a status model sends nothing";
}

TEST_F(Controller, OnlyUnqualifiedInterfacesLeaveNothingOpen)
{
    world = StartWorld("device 0596:0102 nofeatures\ndevice 0596:0999\n");
    EXPECT_EQ(OpenController(), nullptr);
    EXPECT_EQ(SimInprocOpenCount(), 0);
}

TEST_F(Controller, ClosingARawModelEndsCalibrationAfterASecond)
{
    world = StartWorld("device 0596:0100\n");
    ControllerSession* session = OpenController();
    ASSERT_NE(session, nullptr);
    CloseController(session);
    EXPECT_EQ(VirtualNowMs(), 1100u) << "1000 ms pause, then the transfer's own 100 ms";
    EXPECT_EQ(Transfers(world), std::vector<std::string>({"set 03 8 ok 03 05 00 00 07 00 00 00"}));
    EXPECT_EQ(SimInprocOpenCount(), 0);
}

TEST_F(Controller, ClosingARawModelThatRefusesStillCloses)
{
    world = StartWorld("device 0596:0102\nrefuse set 3\n");
    ControllerSession* session = OpenController();
    ASSERT_NE(session, nullptr);
    CloseController(session);
    EXPECT_EQ(VirtualNowMs(), 2000u);
    EXPECT_EQ(Matching(Transfers(world), "set 03 8 fail").size(), 10u);
    EXPECT_EQ(SimInprocOpenCount(), 0);
}

TEST_F(Controller, EveryAttemptWaitsFirstAndTenAttemptsAtMost)
{
    world = StartWorld("device 0596:0102\nrefuse set 3 times=3\nrefuse get 8\n");
    ControllerSession* session = OpenSession();

    EXPECT_TRUE(SendModeCommand(session, ModeBeginCalibration));
    EXPECT_EQ(VirtualNowMs(), 400u) << "three refusals, success on the fourth attempt";
    EXPECT_EQ(Transfers(world).back(), "set 03 8 ok 03 05 00 00 05 00 00 00");

    std::uint8_t report[8] = {8};
    EXPECT_FALSE(GetFeatureRetry(session, report, sizeof report));
    EXPECT_EQ(VirtualNowMs(), 1400u);
    EXPECT_EQ(Matching(Transfers(world), "get 08 8 fail").size(), 10u);

    EXPECT_TRUE(SendModeCommand(session, ModeEndCalibration));
    EXPECT_EQ(VirtualNowMs(), 1500u) << "a transfer that succeeds at once still takes 100 ms";
    session->productId = kModelStatus0003;  // leave without the closing mode command
    CloseController(session);
}

TEST_F(Controller, StartAndStopReportsOfTheStatusModels)
{
    world = StartWorld("device 0596:0003\n");
    ControllerSession* session = OpenSession();
    EXPECT_TRUE(SendStartCommand(session));
    EXPECT_TRUE(SendStopCommand(session));
    EXPECT_EQ(Transfers(world), std::vector<std::string>({"set 10 8 ok 10 11 01 00 00 00 00 00",
                                                          "set 10 8 ok 10 12 01 00 00 00 00 00"}));
    CloseController(session);
}

TEST_F(Controller, StartOfModel0400PausesASecondOnlyWhenAccepted)
{
    world = StartWorld("device 0596:0400\nrefuse set 3 times=10 from=2\n");
    ControllerSession* session = OpenSession();
    EXPECT_TRUE(SendStartCommand(session));
    EXPECT_EQ(VirtualNowMs(), 1100u);
    EXPECT_EQ(Transfers(world), std::vector<std::string>({"set 03 8 ok 03 04 01 00 00 00 00 00"}));
    EXPECT_FALSE(SendStartCommand(session));
    EXPECT_EQ(VirtualNowMs(), 2100u) << "refused: ten attempts and no extra pause";
    CloseController(session);
}

TEST_F(Controller, StartIsMeaninglessForOtherModels)
{
    world = StartWorld("device 0596:0102\n");
    ControllerSession* session = OpenSession();
    EXPECT_FALSE(SendStartCommand(session));
    EXPECT_TRUE(Transfers(world).empty());
    EXPECT_EQ(VirtualNowMs(), 0u);
    session->productId = kModelStatus0003;
    CloseController(session);
}

}  // namespace
