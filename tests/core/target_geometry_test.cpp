#include <gtest/gtest.h>

#include <bit>

#include "app/target_geometry.h"

namespace {

TargetGeometry Box(std::int32_t w, std::int32_t h, float x, float y)
{
    TargetGeometry g{};
    EXPECT_TRUE(ComputeTargetGeometry(w, h, x, y, &g));
    return g;
}

TEST(TargetGeometry, TheThreeTargetsOnA1024x768ClientArea)
{
    const TargetGeometry t1 = Box(1024, 768, 0.125f, 0.125f);
    EXPECT_EQ(t1.left, 104);
    EXPECT_EQ(t1.top, 648);
    EXPECT_EQ(t1.right, 152);
    EXPECT_EQ(t1.bottom, 696);
    EXPECT_EQ(t1.midX, 128);
    EXPECT_EQ(t1.midY, 672);
    EXPECT_EQ(t1.inset, 8);

    const TargetGeometry t2 = Box(1024, 768, 0.875f, 0.875f);
    EXPECT_EQ(t2.left, 872);
    EXPECT_EQ(t2.top, 72);
    EXPECT_EQ(t2.right, 920);
    EXPECT_EQ(t2.bottom, 120);

    const TargetGeometry t3 = Box(1024, 768, 0.125f, 0.875f);
    EXPECT_EQ(t3.left, 104);
    EXPECT_EQ(t3.top, 72);
    EXPECT_EQ(t3.right, 152);
    EXPECT_EQ(t3.bottom, 120);
}

TEST(TargetGeometry, TruncatesTowardZeroNotToNearest)
{
    // cx = 170.75 on a 1366-wide screen: 146.75 and 194.75 become 146 and 194.
    const TargetGeometry g = Box(1366, 768, 0.125f, 0.125f);
    EXPECT_EQ(g.left, 146);
    EXPECT_EQ(g.right, 194);

    // r = 3.125 at the left edge: -3.125 truncates to -3, not -4; the box straddles the edge.
    const TargetGeometry edge = Box(400, 100, 0.0f, 0.5f);
    EXPECT_EQ(edge.left, -3);
    EXPECT_EQ(edge.right, 3);
    EXPECT_EQ(edge.midX, 0);
}

TEST(TargetGeometry, TheVerticalCentreIsNotRoundedToSinglePrecision)
{
    // H = 136, y = 0.00919118244 (0x3C16969D): in double precision cy = 134.7499992, in single
    // precision it would round to 134.75, and cy + r = 138.99999 would become 139.
    const float y = std::bit_cast<float>(std::uint32_t{0x3C16969D});
    const TargetGeometry g = Box(1024, 136, 0.5f, y);
    EXPECT_EQ(g.top, 130);
    EXPECT_EQ(g.bottom, 138);
    EXPECT_EQ(g.midY, 134);
}

TEST(TargetGeometry, NothingButWhiteWithoutAVisibleTarget)
{
    TargetGeometry g{};
    EXPECT_FALSE(ComputeTargetGeometry(1024, 768, -1.0f, 0.5f, &g)) << "targetX -1 means no target";
    EXPECT_FALSE(ComputeTargetGeometry(1024, 0, 0.5f, 0.5f, &g))
        << "zero height gives an empty box";
    // targetY -1 puts the centre at twice the height, below the client area.
    EXPECT_FALSE(ComputeTargetGeometry(1024, 768, 0.5f, -1.0f, &g));
    EXPECT_FALSE(ComputeTargetGeometry(1024, 768, 3.0f, 0.5f, &g));
    // Only exactly -1 marks "no target": a nearby value still draws.
    EXPECT_TRUE(ComputeTargetGeometry(1024, 768, 0.5f, -0.01f, &g));
}

TEST(TargetGeometry, AbsurdPositionsDoNotOverflow)
{
    TargetGeometry g{};
    EXPECT_FALSE(ComputeTargetGeometry(1024, 768, 1.0e30f, 0.5f, &g));
    EXPECT_FALSE(ComputeTargetGeometry(1024, 768, 0.5f, -1.0e30f, &g));

    // The limit itself, on a client area of that height with y = 1/32: a box reaching down to
    // 999999999 is drawn, one reaching to 10^9 is not.
    ASSERT_TRUE(ComputeTargetGeometry(1024, 999999999, 0.5f, 0.03125f, &g));
    EXPECT_EQ(g.bottom, 999999999);
    EXPECT_FALSE(ComputeTargetGeometry(1024, 1000000000, 0.5f, 0.03125f, &g));
    // Across, r = 40: cx + r is 10^9 - 88 in single precision (drawn), or 10^9 - 24, which
    // rounds to 10^9 (not drawn).
    EXPECT_TRUE(ComputeTargetGeometry(1000000000, 1280, 0.99999988f, 0.5f, &g));
    EXPECT_FALSE(ComputeTargetGeometry(1000000000, 1280, 0.99999994f, 0.5f, &g));
}

}  // namespace
