#include <gtest/gtest.h>

#include "calibration/calibration_math.h"

namespace {

LinearizationGrid ZeroGrid()
{
    return LinearizationGrid{};
}

LinearizationGrid FilledGrid(double dx, double dy)
{
    LinearizationGrid grid{};
    for (int k = 0; k < 25; ++k) {
        grid.dx[k] = dx;
        grid.dy[k] = dy;
    }
    return grid;
}

struct Points {
    std::int32_t x[3];
    std::int32_t y[3];
};

Points WithDerivedThird(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2)
{
    ControllerSession session{};
    session.x[0] = x1;
    session.y[0] = y1;
    session.x[1] = x2;
    session.y[1] = y2;
    session.pointCount = 2;
    DeriveThirdPoint(&session);
    EXPECT_EQ(session.pointCount, 3);
    return {{session.x[0], session.x[1], session.x[2]}, {session.y[0], session.y[1], session.y[2]}};
}

void ExpectLimits(const CalibrationLimits& l, std::int32_t xLow, std::int32_t xHigh,
                  std::int32_t yLow, std::int32_t yHigh, std::uint8_t orientation)
{
    EXPECT_EQ(l.xLow, xLow);
    EXPECT_EQ(l.xHigh, xHigh);
    EXPECT_EQ(l.yLow, yLow);
    EXPECT_EQ(l.yHigh, yHigh);
    EXPECT_EQ(l.orientation, orientation);
}

TEST(DeriveThirdPoint, EqualSignsMeanAxesNotExchanged)
{
    const Points same = WithDerivedThird(-1536, -1536, 1536, 1536);
    EXPECT_EQ(same.x[2], -1536);
    EXPECT_EQ(same.y[2], 1536);

    const Points mixed = WithDerivedThird(-1500, 1400, 1450, -1350);
    EXPECT_EQ(mixed.x[2], 1450);
    EXPECT_EQ(mixed.y[2], 1400);

    // Zero is neither negative nor positive.
    const Points zero = WithDerivedThird(0, -700, 900, 800);
    EXPECT_EQ(zero.x[2], 900);
    EXPECT_EQ(zero.y[2], -700);
    for (const std::int32_t x1 : {-700, 700}) {
        const Points zeroY = WithDerivedThird(x1, 0, 900, 800);
        EXPECT_EQ(zeroY.x[2], 900) << x1;
        EXPECT_EQ(zeroY.y[2], 0) << x1;
    }
}

TEST(CalibrationLimits, FourOrientationCases)
{
    CalibrationLimits l{};

    Points p = WithDerivedThird(-1536, -1536, 1536, 1536);
    ASSERT_TRUE(ComputeCalibrationLimits(p.x, p.y, ZeroGrid(), &l));
    ExpectLimits(l, 1, 2046, 1, 2046, 0);  // 2047 clamped to 2046

    p = WithDerivedThird(-1500, 1400, 1450, -1350);
    ASSERT_TRUE(ComputeCalibrationLimits(p.x, p.y, ZeroGrid(), &l));
    ExpectLimits(l, 29, 1994, 120, 1952, 5);

    p = WithDerivedThird(1500, 1400, -1450, -1350);
    ASSERT_TRUE(ComputeCalibrationLimits(p.x, p.y, ZeroGrid(), &l));
    ExpectLimits(l, 54, 2019, 120, 1952, 6);

    // A measured third point at the derived place gives the same result.
    const std::int32_t x[3] = {-1536, 1536, -1536};
    const std::int32_t y[3] = {-1536, 1536, 1536};
    ASSERT_TRUE(ComputeCalibrationLimits(x, y, ZeroGrid(), &l));
    ExpectLimits(l, 1, 2046, 1, 2046, 0);
}

TEST(CalibrationLimits, ZeroIsNotNegative)
{
    // For the orientation code and for the sign check alike; counted as negative, each of these
    // would pick another row or refuse the points.
    CalibrationLimits l{};

    Points p = WithDerivedThird(-1500, -1500, 1500, 0);  // y2 = y3 = 0
    ASSERT_TRUE(ComputeCalibrationLimits(p.x, p.y, ZeroGrid(), &l));
    ExpectLimits(l, 25, 2023, 149, 1148, 0);

    p = WithDerivedThird(-1500, -1500, 0, 1500);  // x2 = 0
    ASSERT_TRUE(ComputeCalibrationLimits(p.x, p.y, ZeroGrid(), &l));
    ExpectLimits(l, 149, 1148, 25, 2023, 0);

    p = WithDerivedThird(-1500, 1500, 0, -1500);  // x2 = x3 = 0
    ASSERT_TRUE(ComputeCalibrationLimits(p.x, p.y, ZeroGrid(), &l));
    ExpectLimits(l, 149, 1148, 25, 2023, 5);
}

TEST(CalibrationLimits, NegativeLowLimitsBecomeZero)
{
    // Both low limits converge at -242.
    const Points p = WithDerivedThird(-2000, -2000, 1200, 1200);
    CalibrationLimits l{};
    ASSERT_TRUE(ComputeCalibrationLimits(p.x, p.y, ZeroGrid(), &l));
    ExpectLimits(l, 0, 1890, 0, 1890, 0);

    // And at -1, the first below zero.
    const Points justBelow = WithDerivedThird(-1627, -1573, 915, 1285);
    ASSERT_TRUE(ComputeCalibrationLimits(justBelow.x, justBelow.y, ZeroGrid(), &l));
    ExpectLimits(l, 0, 1692, 0, 1903, 0);
}

TEST(CalibrationLimits, EveryRowOfTheOrientationTable)
{
    // Each of the eight ways the controller's axes can lie against the screen, built from the
    // three target positions, must give its byte and limits in increasing order.
    const std::uint8_t expected[8] = {5, 4, 1, 6, 0, 7, 2, 3};
    for (int p = 0; p < 8; ++p) {
        const bool x3neg = (p & 4) != 0;
        const bool y3neg = (p & 2) != 0;
        const bool x2neg = (p & 1) != 0;
        // Construct points consistent with p: P1 opposite P2 on both axes, P3 shares one axis.
        std::int32_t x[3];
        std::int32_t y[3];
        x[1] = x2neg ? -1400 : 1400;
        x[0] = -x[1];
        x[2] = x3neg ? -1400 : 1400;
        y[2] = y3neg ? -1300 : 1300;
        y[1] = (x[2] == x[0]) ? y[2] : -y[2];
        y[0] = -y[1];
        CalibrationLimits l{};
        ASSERT_TRUE(ComputeCalibrationLimits(x, y, ZeroGrid(), &l)) << "p = " << p;
        EXPECT_EQ(l.orientation, expected[p]) << "p = " << p;
        EXPECT_LT(l.xLow, l.xHigh) << "p = " << p;
        EXPECT_LT(l.yLow, l.yHigh) << "p = " << p;
    }
}

TEST(CalibrationLimits, GridOffsetsMoveTheLimits)
{
    // Every node (10, -3) in the page: offsets 20 and -6; convergence in the eighth pass.
    const Points p = WithDerivedThird(-1400, -1450, 1500, 1380);
    CalibrationLimits l{};
    ASSERT_TRUE(ComputeCalibrationLimits(p.x, p.y, FilledGrid(20.0, -6.0), &l));
    ExpectLimits(l, 62, 1997, 68, 1952, 0);

    // The iteration starts from the edges extended by span x 511 / 3071, and under these offsets
    // it stops elsewhere from a start one unit off, on either axis: dividing by 3072 instead
    // gives xLow 119 or yHigh 2036 in the first case, by 3070 xLow 46 or yLow 108 in the second.
    const Points first = WithDerivedThird(-1295, -1604, 1807, 1499);
    ASSERT_TRUE(ComputeCalibrationLimits(first.x, first.y, FilledGrid(-2.0, -8.0), &l));
    ExpectLimits(l, 118, 2046, 0, 2035, 0);
    const Points second = WithDerivedThird(-1488, -1383, 1324, 1321);
    ASSERT_TRUE(ComputeCalibrationLimits(second.x, second.y, FilledGrid(-2.0, -4.0), &l));
    ExpectLimits(l, 47, 1919, 109, 1909, 0);
}

TEST(CalibrationLimits, AtMostAHundredPasses)
{
    // The same points converge in pass 100 under offsets of 240, and would in pass 101 under 244.
    const Points p = WithDerivedThird(-400, -1500, 400, 1500);
    CalibrationLimits l{};
    ASSERT_TRUE(ComputeCalibrationLimits(p.x, p.y, FilledGrid(240.0, 0.0), &l));
    ExpectLimits(l, 695, 1228, 25, 2023, 0);
    EXPECT_FALSE(ComputeCalibrationLimits(p.x, p.y, FilledGrid(244.0, 0.0), &l));
}

TEST(CalibrationLimits, RefusesPointsThatAdmitNoCalibration)
{
    CalibrationLimits l{};
    // x1 = 0 and x2 = 5 lie on the same side of zero.
    const std::int32_t sameSideX[3] = {0, 5, 0};
    const std::int32_t y[3] = {-1000, 1000, 1000};
    EXPECT_FALSE(ComputeCalibrationLimits(sameSideX, y, ZeroGrid(), &l));

    // A few units apart on y: the span on that axis collapses during the iteration.
    const Points close = WithDerivedThird(-1000, -3, 1000, 3);
    EXPECT_FALSE(ComputeCalibrationLimits(close.x, close.y, ZeroGrid(), &l));

    // Offsets that swing between the extremes from node to node keep the iteration from settling;
    // it must end in failure, without overflow.
    LinearizationGrid swinging{};
    for (int k = 0; k < 25; ++k) {
        swinging.dx[k] = (k % 5) % 2 != 0 ? 254.0 : -254.0;
        swinging.dy[k] = swinging.dx[k];
    }
    const Points wide = WithDerivedThird(-1500, -1500, 1500, 1500);
    EXPECT_FALSE(ComputeCalibrationLimits(wide.x, wide.y, swinging, &l));
}

TEST(CorrectByGrid, ZeroGridLeavesEveryPointAlone)
{
    std::int32_t x = 0;
    std::int32_t y = 0;
    for (const std::int32_t v : {-5000, 0, 102, 511, 1945, 2047, 9000}) {
        CorrectByGrid(v, -v, ZeroGrid(), &x, &y);
        EXPECT_EQ(x, v);
        EXPECT_EQ(y, -v);
    }
}

TEST(CorrectByGrid, InterpolatesOneNodeAndTruncatesTowardZero)
{
    LinearizationGrid grid{};
    grid.dx[1 * 5 + 1] = 40.0;
    grid.dy[1 * 5 + 1] = -20.0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    CorrectByGrid(767, 767, grid, &x, &y);  // the middle of cell (1, 1)
    EXPECT_EQ(x, 757);
    EXPECT_EQ(y, 772);
    CorrectByGrid(511, 511, grid, &x, &y);  // on the node: the cell below it
    EXPECT_EQ(x, 471);
    EXPECT_EQ(y, 531);
    CorrectByGrid(306, 306, grid, &x, &y);  // offsets 9.95 and -4.975 become 9 and -4
    EXPECT_EQ(x, 297);
    EXPECT_EQ(y, 310);
}

TEST(CorrectByGrid, InDoublePrecisionAndNoWider)
{
    // The dx offsets -84, -60, 140 and -240 at the corners G00, G10, G01 and G11 of cell (i, j).
    const auto cornersOf = [](int i, int j) {
        LinearizationGrid grid{};
        grid.dx[j * 5 + i] = -84.0;
        grid.dx[j * 5 + i + 1] = -60.0;
        grid.dx[(j + 1) * 5 + i] = 140.0;
        grid.dx[(j + 1) * 5 + i + 1] = -240.0;
        return grid;
    };
    std::int32_t x = 0;
    std::int32_t y = 0;
    // Cell (0, 2) at u = 324, v = 160: exactly -95, in double precision too. With tx rounded to
    // double and the rest in 80 bits it is -94.99999999999999858, which truncates to -94.
    CorrectByGrid(102 + 324, 1023 + 160, cornersOf(0, 2), &x, &y);
    EXPECT_EQ(x, 426 + 95);
    // Cell (3, 3) on its last node along x, ty = 0.6: exactly -168, but -167.99999999999997 in
    // double precision, which truncates to -167. Wholly in 80 bits it comes out as -168.
    CorrectByGrid(1945, 1535 + 246, cornersOf(3, 3), &x, &y);
    EXPECT_EQ(x, 1945 + 167);
    EXPECT_EQ(y, 1535 + 246);
    // The same on the node between cells 2 and 3, which belongs to cell 2 (tx = 1); from cell 3
    // (tx = 0) the offset would come out as -168.00000000000003.
    CorrectByGrid(1535, 1535 + 246, cornersOf(2, 3), &x, &y);
    EXPECT_EQ(x, 1535 + 167);
}

TEST(CorrectByGrid, OuterCellsExtrapolate)
{
    // dx rises by 10 per node along x; beyond the last node the slope goes on.
    LinearizationGrid grid{};
    for (int j = 0; j < 5; ++j) {
        for (int i = 0; i < 5; ++i) {
            grid.dx[j * 5 + i] = 10.0 * i;
        }
    }
    std::int32_t x = 0;
    std::int32_t y = 0;
    CorrectByGrid(1945 + 410, 1000, grid, &x, &y);  // one cell width past the last node: 50
    EXPECT_EQ(x, 1945 + 410 - 50);
    CorrectByGrid(102 - 409, 1000, grid, &x, &y);  // one width before the first: -10
    EXPECT_EQ(x, 102 - 409 + 10);
}

}  // namespace

#include "core/test_support.h"

namespace {

class CalibrationStore : public SessionTest {
protected:
    ControllerSession* Open(const std::string& scenario, std::int32_t x1, std::int32_t y1,
                            std::int32_t x2, std::int32_t y2)
    {
        Start(scenario);
        if (session != nullptr) {
            session->x[0] = x1;
            session->y[0] = y1;
            session->x[1] = x2;
            session->y[1] = y2;
            session->pointCount = 2;
            DeriveThirdPoint(session);
        }
        return session;
    }
};

TEST_F(CalibrationStore, GridFromTheControllerAndEveryOtherByteKept)
{
    ASSERT_NE(Open("device 0596:0102\nlinearization fill 10 -3\n"
                   "calibration-page 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f 20 21 22 23 24 "
                   "25 26 27 28 29 2a\n",
                   -1400, -1450, 1500, 1380),
              nullptr);
    ASSERT_NE(ComputeAndStoreCalibration(session), 0);

    const auto t = Transfers(world);
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0], "set 03 8 ok 03 02 00 00 02 00 32 00");
    EXPECT_EQ(t[1].rfind("get 05 72 ok 05", 0), 0u);
    EXPECT_EQ(t[2], "set 03 8 ok 03 02 00 00 01 00 1a 00");
    ASSERT_EQ(t[3].rfind("get 05 72 ok", 0), 0u);
    ASSERT_EQ(t[4].rfind("set 05 72 ok", 0), 0u);
    const TranscriptTransfer read = ParseTransfer(t[3]);
    const TranscriptTransfer write = ParseTransfer(t[4]);
    ASSERT_EQ(read.bytes.size(), 72u);
    ASSERT_EQ(write.bytes.size(), 72u);
    const std::uint8_t header[8] = {0x05, 0x01, 0x00, 0x00, 0x01, 0x00, 0x1a, 0x00};
    const std::uint8_t limits[8] = {0x00, 0x3e, 0x07, 0xcd, 0x00, 0x44, 0x07, 0xa0};
    for (std::size_t i = 0; i < 72; ++i) {
        if (i < 8) {
            EXPECT_EQ(write.bytes[i], header[i]) << "byte " << i;
        } else if (i < 16) {
            EXPECT_EQ(write.bytes[i], limits[i - 8]) << "byte " << i;
        } else if (i == 28) {
            EXPECT_EQ(write.bytes[i], 0x00) << "orientation";
        } else {
            EXPECT_EQ(write.bytes[i], read.bytes[i]) << "byte " << i << " must stay as read";
        }
    }
    EXPECT_EQ(read.bytes[16], 0x19) << "the page's own bytes reached the program";
}

TEST_F(CalibrationStore, NothingIsWrittenWhenTheGridCannotBeRead)
{
    ASSERT_NE(Open("device 0596:0102\nrefuse get 5\n", -1536, -1536, 1536, 1536), nullptr);
    EXPECT_EQ(ComputeAndStoreCalibration(session), 0);
    EXPECT_TRUE(Matching(Transfers(world), "set 05").empty());
}

TEST_F(CalibrationStore, AFailedGridClearIsAFailureAfterTheStore)
{
    ASSERT_NE(Open("device 0596:0100\nrefuse set 5 from=2\n", -1536, -1536, 1536, 1536), nullptr);
    EXPECT_EQ(ComputeAndStoreCalibration(session), 0);
    EXPECT_EQ(Matching(Transfers(world), "set 05 72 ok").size(), 1u)
        << "the calibration page was stored";
    EXPECT_EQ(SimPage(world.sim, 1)[0], 0x00);
    EXPECT_EQ(SimPage(world.sim, 1)[1], 0x01);
}

TEST_F(CalibrationStore, AnAnswerUnderAnotherReportIsAFailedRead)
{
    // Report 0 and the command report 3: under either, a write-back would go to the wrong report.
    for (const char* id : {"0", "3", "6"}) {
        for (const char* model : {"0100", "0102"}) {
            SCOPED_TRACE(std::string("model ") + model + ", answered under report " + id);
            ASSERT_NE(Open(std::string("device 0596:") + model + "\npage-read id=" + id + "\n",
                           -1536, -1536, 1536, 1536),
                      nullptr);
            EXPECT_EQ(ComputeAndStoreCalibration(session), 0);
            const auto t = Transfers(world);
            EXPECT_TRUE(Matching(t, "set 05").empty()) << "nothing is written";
            EXPECT_EQ(Matching(t, "get 05").size(), 1u) << "the first wrong answer ends the step";
            EXPECT_EQ(SimPage(world.sim, 1), std::vector<std::uint8_t>(26, 0));
            Finish();
        }
    }
}

TEST_F(CalibrationStore, AHeaderThatEchoesNothingStillStoresUnderTheProgramsHeader)
{
    ASSERT_NE(Open("device 0596:0102\npage-read header=zero\n", -1536, -1536, 1536, 1536), nullptr);
    ASSERT_NE(ComputeAndStoreCalibration(session), 0);
    const auto writes = Matching(Transfers(world), "set 05");
    ASSERT_EQ(writes.size(), 1u);
    const std::string expected = "set 05 72 ok 05 01 00 00 01 00 1a 00 00 01 07 fe 00 01 07 fe";
    EXPECT_EQ(writes[0].substr(0, expected.size()), expected);
}

TEST_F(CalibrationStore, SelfCalibratingModelsNeedNothing)
{
    ASSERT_NE(Open("device 0596:0400\n", 1, 1, 1, 1), nullptr);
    EXPECT_NE(ComputeAndStoreCalibration(session), 0);
    EXPECT_TRUE(Transfers(world).empty());
}

}  // namespace
