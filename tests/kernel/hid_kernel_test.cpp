// The hidraw layer against a real kernel's nodes, with the simulated controllers behind /dev/uhid.
// Each group expects the devices that the guest's script has created for it (see guest_init.sh).

#include "platform/hid.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

int DescriptorSize(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return -1;
    }
    int size = -1;
    if (ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) {
        size = -1;
    }
    close(fd);
    return size;
}

// The transcript lines without their times.
std::vector<std::string> TranscriptTail()
{
    std::vector<std::string> lines;
    const char* path = std::getenv("QAVEL_SIM_LOG");
    std::ifstream file(path != nullptr ? path : "");
    std::string line;
    while (std::getline(file, line)) {
        lines.push_back(line.substr(line.find(' ') + 1));
    }
    return lines;
}

}  // namespace

// hidraw0: 0596:0102, 4095 bytes; hidraw1: 0596:0100, 4096 bytes; hidraw2: the same without
// feature values. The kernel refuses HIDIOCGRDESC above 4095 bytes.
TEST(KernelDescriptor, ReadsDescriptorsOf4095And4096BytesWhole)
{
    ASSERT_EQ(4095, DescriptorSize("/dev/hidraw0"));
    ASSERT_EQ(4096, DescriptorSize("/dev/hidraw1"));
    ASSERT_EQ(4096, DescriptorSize("/dev/hidraw2"));

    const struct {
        const char* path;
        bool declaresFeatureValues;
    } nodes[] = {{"/dev/hidraw0", true}, {"/dev/hidraw1", true}, {"/dev/hidraw2", false}};
    for (const auto& node : nodes) {
        HidHandle device = HidOpen(node.path);
        ASSERT_TRUE(HidIsOpen(device)) << node.path;
        EXPECT_EQ(node.declaresFeatureValues, HidDeclaresFeatureValues(device)) << node.path;
        HidClose(device);
    }
}

// hidraw0: 0596:0102 that refuses every set of report 3 and the first two gets of report 8.
TEST(KernelTransfers, RefusedReportsFailAndAreCounted)
{
    HidHandle device = HidOpen("/dev/hidraw0");
    ASSERT_TRUE(HidIsOpen(device));

    const std::uint8_t mode[8] = {0x03, 0x05, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
    EXPECT_FALSE(HidSetFeature(device, mode, sizeof mode));
    std::uint8_t report[8] = {0x08};
    EXPECT_FALSE(HidGetFeature(device, report, sizeof report));
    report[0] = 0x08;
    EXPECT_FALSE(HidGetFeature(device, report, sizeof report));
    report[0] = 0x08;
    EXPECT_TRUE(HidGetFeature(device, report, sizeof report));
    EXPECT_EQ(0x08, report[0]);

    // A report the descriptor does not declare, and a buffer longer than the report: the device
    // answers with what it has, and the layer does not take a short answer for a whole one.
    std::uint8_t undeclared[8] = {0x42};
    EXPECT_FALSE(HidGetFeature(device, undeclared, sizeof undeclared));
    std::uint8_t longer[72] = {0x08};
    EXPECT_FALSE(HidGetFeature(device, longer, sizeof longer));
    HidClose(device);

    const std::vector<std::string> expected = {
        "set 03 8 fail 03 05 00 00 05 00 00 00",
        "get 08 8 fail",
        "get 08 8 fail",
    };
    const std::vector<std::string> lines = TranscriptTail();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(expected, std::vector<std::string>(lines.begin(), lines.begin() + 3));
    EXPECT_EQ(0u, lines[3].rfind("get 08 8 ok 08 ", 0)) << lines[3];
}
