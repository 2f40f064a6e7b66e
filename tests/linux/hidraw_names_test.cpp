#include "platform/linux/hidraw_names.h"

#include <gtest/gtest.h>

TEST(HidrawNames, NumericOrderAndOnlyNodeNames)
{
    // Directory order is arbitrary and "hidraw10" sorts before "hidraw2" as text.
    const std::vector<std::string> entries = {".",       "hidraw10", "..",
                                              "hidraw2", "hidraw0",  "hidraw1"};
    const std::vector<std::string> expected = {"/dev/hidraw0", "/dev/hidraw1", "/dev/hidraw2",
                                               "/dev/hidraw10"};
    EXPECT_EQ(expected, HidrawPathsInOrder(entries));
}

TEST(HidrawNames, ForeignOrOddNamesAreLeftOut)
{
    const std::vector<std::string> entries = {
        "hidraw",   "hidraw-1", "hidraw1x", "xhidraw1",
        "hidraw 1", "HIDRAW1",  "hidraw07", "hidraw99999999999999"};
    // "hidraw07" is a number all the same; the overlong one is no node name.
    const std::vector<std::string> expected = {"/dev/hidraw7"};
    EXPECT_EQ(expected, HidrawPathsInOrder(entries));
    EXPECT_TRUE(HidrawPathsInOrder({}).empty());
}
