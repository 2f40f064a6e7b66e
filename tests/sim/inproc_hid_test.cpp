// The in-process HID seam: what it presents, how handles open and close, and that transfers reach
// the installed simulator at virtual-clock times.

#include "inproc/inproc_hid.h"
#include "inproc/virtual_clock.h"
#include "platform/clock.h"
#include "platform/hid.h"
#include "sim_controller.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

SimScenario Parse(const std::string& text)
{
    SimScenario scenario;
    std::string error;
    EXPECT_TRUE(ParseScenario(text, "inproc.sim", &scenario, &error)) << error;
    return scenario;
}

class InprocHid : public testing::Test {
protected:
    void TearDown() override
    {
        SimInprocInstall(nullptr);
        SimDestroy(sim);
        EXPECT_EQ(SimInprocOpenCount(), 0) << "a test leaked a handle";
    }
    void Install(const std::string& text, std::FILE* transcript = nullptr)
    {
        sim = SimCreate(Parse(text), transcript);
        SimInprocInstall(sim);
    }
    SimController* sim = nullptr;
};

TEST_F(InprocHid, NothingInstalledMeansNoInterfaces)
{
    SimInprocInstall(nullptr);
    EXPECT_TRUE(HidListInterfaces().empty());
    EXPECT_EQ(HidOpen("sim:0"), nullptr);
}

TEST_F(InprocHid, PresentsEveryDeviceWithItsIdentity)
{
    Install("device 1234:5678\ndevice 0596:0102 nofeatures\ndevice 0596:0400\n");
    EXPECT_EQ(HidListInterfaces(), (std::vector<std::string>{"sim:0", "sim:1", "sim:2"}));
    EXPECT_EQ(SimInprocPath(2), "sim:2");

    HidHandle first = HidOpen("sim:0");
    HidHandle second = HidOpen("sim:1");
    ASSERT_TRUE(HidIsOpen(first));
    ASSERT_TRUE(HidIsOpen(second));
    EXPECT_EQ(SimInprocOpenCount(), 2);
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    ASSERT_TRUE(HidGetIds(first, &vendor, &product));
    EXPECT_EQ(vendor, 0x1234);
    EXPECT_EQ(product, 0x5678);
    ASSERT_TRUE(HidGetIds(second, &vendor, &product));
    EXPECT_EQ(vendor, 0x0596);
    EXPECT_EQ(product, 0x0102);
    EXPECT_TRUE(HidDeclaresFeatureValues(first));
    EXPECT_FALSE(HidDeclaresFeatureValues(second));
    HidClose(first);
    EXPECT_EQ(SimInprocOpenCount(), 1);
    HidClose(second);
    EXPECT_EQ(SimInprocOpenCount(), 0);
}

TEST_F(InprocHid, InvalidPathsOpenNothing)
{
    Install("device 0596:0100\n");
    for (const char* path : {"sim:1", "sim:-1", "sim:", "sim:01", "sim:0x", "SIM:0", "",
                             "sim:99999999999", "/dev/hidraw0"}) {
        EXPECT_EQ(HidOpen(path), nullptr) << path;
    }
    EXPECT_EQ(SimInprocOpenCount(), 0);
    HidClose(nullptr);
    HidClose(reinterpret_cast<HidHandle>(static_cast<std::intptr_t>(-1)));
    EXPECT_EQ(SimInprocOpenCount(), 0);
}

TEST_F(InprocHid, TransfersReachTheSimulatorAtVirtualTime)
{
    std::FILE* log = std::tmpfile();
    Install("device 0596:0100\ntouch 293 1332 rest=0\n", log);
    VirtualClockReset();
    HidHandle device = HidOpen("sim:0");
    ASSERT_TRUE(HidIsOpen(device));
    PauseMs(1203);
    const std::uint8_t mode[8] = {3, 5, 0, 0, 5, 0, 0, 0};
    EXPECT_TRUE(HidSetFeature(device, mode, 8));
    PauseMs(100);
    std::uint8_t report[8] = {8};
    ASSERT_TRUE(HidGetFeature(device, report, 8));
    EXPECT_EQ(report[1], 0x53);
    EXPECT_FALSE(HidGetFeature(device, report, 7));
    HidClose(device);

    std::rewind(log);
    char line[256];
    ASSERT_NE(std::fgets(line, sizeof line, log), nullptr);
    EXPECT_STREQ(line, "1203 set 03 8 ok 03 05 00 00 05 00 00 00\n");
    ASSERT_NE(std::fgets(line, sizeof line, log), nullptr);
    EXPECT_EQ(std::string(line).rfind("1303 get 08 8 ok 08 53 12 34 ", 0), 0u) << line;
    ASSERT_NE(std::fgets(line, sizeof line, log), nullptr);
    EXPECT_STREQ(line, "1303 get 08 7 fail\n");
    SimInprocInstall(nullptr);
    std::fclose(log);
}

TEST_F(InprocHid, HandlesOpenedBeforeAReinstallNoLongerTransfer)
{
    Install("device 0596:0100\n");
    HidHandle stale = HidOpen("sim:0");
    ASSERT_TRUE(HidIsOpen(stale));
    SimController* other = SimCreate(Parse("device 0596:0100\n"), nullptr);
    SimInprocInstall(other);
    std::uint8_t report[8] = {8};
    EXPECT_FALSE(HidGetFeature(stale, report, 8));
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    EXPECT_FALSE(HidGetIds(stale, &vendor, &product));
    HidClose(stale);
    SimInprocInstall(nullptr);
    SimDestroy(other);
}

}  // namespace
