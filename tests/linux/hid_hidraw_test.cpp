// The hidraw layer against the simulator's preload library: the calls it makes are the ones the
// library answers, and the answers come through as the seam promises.

#include "platform/hid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

TEST(HidHidraw, ListsInNumericOrderAndReadsEachInterface)
{
    const std::vector<std::string> paths = HidListInterfaces();
    ASSERT_EQ(13u, paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ("/dev/hidraw" + std::to_string(i), paths[i]);
    }

    struct Expected {
        std::uint16_t vendor;
        std::uint16_t product;
        bool featureValues;
    };
    const Expected expected[] = {
        {0x0596, 0x0102, true}, {0x0596, 0x0100, false}, {0xFFFF, 0x8001, true}};
    for (int i = 0; i < 3; ++i) {
        HidHandle device = HidOpen(paths[i]);
        ASSERT_TRUE(HidIsOpen(device)) << paths[i];
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        ASSERT_TRUE(HidGetIds(device, &vendor, &product));
        // The kernel's fields are signed: 0xFFFF must not become anything else.
        EXPECT_EQ(expected[i].vendor, vendor);
        EXPECT_EQ(expected[i].product, product);
        EXPECT_EQ(expected[i].featureValues, HidDeclaresFeatureValues(device));
        HidClose(device);
    }
    EXPECT_FALSE(HidIsOpen(HidOpen("/dev/hidraw13")));
    EXPECT_FALSE(HidIsOpen(HidOpen("/dev/hidraw")));
}

// A node the user may not open: refused, yet sysfs names the controller, and the reason is said.
TEST(HidHidraw, ExplainsANodeThatRefusesToOpen)
{
    EXPECT_FALSE(HidIsOpen(HidOpen("/dev/hidraw12")));
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::string explanation;
    ASSERT_TRUE(HidExplainRefusedOpen("/dev/hidraw12", &vendor, &product, &explanation));
    EXPECT_EQ(0x0596, vendor);
    EXPECT_EQ(0x0300, product);
    EXPECT_EQ(
        "/dev/hidraw12 (0596:0300): permission denied. Install the udev rule "
        "70-qavel-touch.rules (or the qavel-calib package), then plug the controller in again.",
        explanation);
    EXPECT_FALSE(HidExplainRefusedOpen("/dev/hidraw12", nullptr, &product, &explanation));
    EXPECT_FALSE(HidExplainRefusedOpen("/dev/hidraw12", &vendor, nullptr, &explanation));
    EXPECT_FALSE(HidExplainRefusedOpen("/dev/hidraw12", &vendor, &product, nullptr));
    // One that opens, and one that is not there, have nothing to explain.
    EXPECT_FALSE(HidExplainRefusedOpen("/dev/hidraw0", &vendor, &product, &explanation));
    EXPECT_FALSE(HidExplainRefusedOpen("/dev/hidraw13", &vendor, &product, &explanation));
}

TEST(HidHidraw, FeatureTransfers)
{
    HidHandle device = HidOpen("/dev/hidraw0");
    ASSERT_TRUE(HidIsOpen(device));
    // Set mode 5, then read a raw report: whole lengths both ways.
    const std::uint8_t mode[8] = {0x03, 0x05, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
    EXPECT_TRUE(HidSetFeature(device, mode, sizeof mode));
    std::uint8_t report[8] = {0x08};
    EXPECT_TRUE(HidGetFeature(device, report, sizeof report));
    EXPECT_EQ(0x08, report[0]);
    EXPECT_FALSE(HidGetFeature(device, report, 0));
    EXPECT_FALSE(HidGetFeature(device, nullptr, 8));
    EXPECT_FALSE(HidSetFeature(device, nullptr, 8));
    std::uint16_t id = 0;
    EXPECT_FALSE(HidGetIds(device, &id, nullptr));
    EXPECT_FALSE(HidGetIds(device, nullptr, &id));
    HidClose(device);

    EXPECT_FALSE(HidSetFeature(nullptr, mode, sizeof mode));
    EXPECT_FALSE(HidGetFeature(nullptr, report, sizeof report));
    EXPECT_FALSE(HidGetIds(nullptr, nullptr, nullptr));
    EXPECT_FALSE(HidDeclaresFeatureValues(reinterpret_cast<HidHandle>(-1)));
    HidClose(nullptr);
}

TEST(HidHidraw, EachFailedTransferLeavesOneLineWithErrno)
{
    HidHandle device = HidOpen("/dev/hidraw0");
    ASSERT_TRUE(HidIsOpen(device));
    const std::uint8_t mode[8] = {0x03, 0x05, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
    std::uint8_t page[72] = {0x08};

    testing::internal::CaptureStderr();
    EXPECT_TRUE(HidSetFeature(device, mode, sizeof mode));
    // No transfer of length zero is made, so none fails.
    EXPECT_FALSE(HidSetFeature(device, mode, 0));
    EXPECT_FALSE(HidGetFeature(device, page, 0));
    EXPECT_EQ("", testing::internal::GetCapturedStderr());

    // The controller wants each report at its own length; the preload library answers as a
    // stalled transfer does.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(HidSetFeature(device, mode, 1));
    EXPECT_FALSE(HidSetFeature(device, mode, 7));
    EXPECT_FALSE(HidGetFeature(device, page, sizeof page));
    EXPECT_EQ(
        "qavel: set feature report 03, 1 bytes: error 32 (Broken pipe)\n"
        "qavel: set feature report 03, 7 bytes: error 32 (Broken pipe)\n"
        "qavel: get feature report 08, 72 bytes: error 32 (Broken pipe)\n",
        testing::internal::GetCapturedStderr());
    HidClose(device);
}
