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
        "hidraw",   "hidraw-1", "hidraw1x",         "xhidraw1",
        "hidraw 1", "HIDRAW1",  "hidraw07",         "hidraw99999999999999",
        "hidraw1234567890",     "hidraw123456789"};
    // "hidraw07" is a number all the same; past nine digits it is no node name.
    const std::vector<std::string> expected = {"/dev/hidraw7", "/dev/hidraw123456789"};
    EXPECT_EQ(expected, HidrawPathsInOrder(entries));
    EXPECT_TRUE(HidrawPathsInOrder({}).empty());
}

TEST(HidrawNames, UeventIdentifiers)
{
    EXPECT_EQ("/sys/class/hidraw/hidraw12/device/uevent", UeventPathOfNode("/dev/hidraw12"));
    EXPECT_EQ("", UeventPathOfNode("/dev/hidraw"));
    EXPECT_EQ("", UeventPathOfNode("/tmp/hidraw1"));

    // As the kernel writes it: upper-case hex, the bus first.
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    ASSERT_TRUE(ParseUeventIds("DRIVER=hid-generic\nHID_ID=0003:00000596:0000FFFF\nHID_NAME=x\n",
                               &vendor, &product));
    EXPECT_EQ(0x0596, vendor);
    EXPECT_EQ(0xFFFF, product);
    for (const char* broken :
         {"HID_NAME=x\n", "HID_ID=0003:00000596\n", "HID_ID=0003:00010596:0102\n",
          "HID_ID=0003:0596:01g2\n", "HID_ID=0003::0102\n", "XHID_ID=0003:0596:0102",
          "HID_ID=0003:000000596:0102\n"}) {
        EXPECT_FALSE(ParseUeventIds(broken, &vendor, &product)) << broken;
    }
}
