// Scenario files: what the parser accepts, the defaults it fills in, and every class of line it
// must refuse with the file name and line number.

#include "sim_controller.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

SimScenario ParseOk(const std::string& text)
{
    SimScenario scenario;
    std::string error;
    EXPECT_TRUE(ParseScenario(text, "ok.sim", &scenario, &error)) << error;
    return scenario;
}

std::string ParseError(const std::string& text)
{
    SimScenario scenario;
    std::string error;
    EXPECT_FALSE(ParseScenario(text, "bad.sim", &scenario, &error)) << "accepted: " << text;
    return error;
}

std::string Repeat(const std::string& word, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += " " + word;
    return out;
}

TEST(ScenarioParse, EmptyTextCommentsAndBlankLinesGiveDefaults)
{
    SimScenario s = ParseOk("# nothing here\n\n   \t\n# device 0596:0100\n");
    EXPECT_TRUE(s.devices.empty());
    EXPECT_TRUE(s.touches.empty());
    EXPECT_EQ(s.asciiStartReply, "0");
    EXPECT_EQ(s.asciiStartAfter, 2);
    EXPECT_FALSE(s.touchFromPointer);
    for (std::int8_t b : s.linearization)
        EXPECT_EQ(b, 0);
    for (std::uint8_t b : s.calibrationPage)
        EXPECT_EQ(b, 0);
}

TEST(ScenarioParse, DevicesInOrderWithFeatureFlag)
{
    SimScenario s =
        ParseOk("device 0596:0100\ndevice 1234:abCD nofeatures  # trailing comment\r\n");
    ASSERT_EQ(s.devices.size(), 2u);
    EXPECT_EQ(s.devices[0].vendor, 0x0596);
    EXPECT_EQ(s.devices[0].product, 0x0100);
    EXPECT_TRUE(s.devices[0].featureValues);
    EXPECT_EQ(s.devices[1].vendor, 0x1234);
    EXPECT_EQ(s.devices[1].product, 0xABCD);
    EXPECT_FALSE(s.devices[1].featureValues);
    EXPECT_EQ(s.devices[0].extraReportId, 0);
}

TEST(ScenarioParse, DeviceWithAnExtraFeatureReport)
{
    SimScenario s = ParseOk(
        "device 0596:0102 extra-feature=0x20:130\n"
        "device 0596:0100 nofeatures extra-feature=255:4096\n");
    ASSERT_EQ(s.devices.size(), 2u);
    EXPECT_TRUE(s.devices[0].featureValues);
    EXPECT_EQ(s.devices[0].extraReportId, 0x20);
    EXPECT_EQ(s.devices[0].extraReportLength, 130);
    EXPECT_FALSE(s.devices[1].featureValues);
    EXPECT_EQ(s.devices[1].extraReportId, 255);
    EXPECT_EQ(s.devices[1].extraReportLength, 4096);
}

TEST(ScenarioParse, CompositeDevices)
{
    SimScenario s = ParseOk(
        "device 0596:0102 composite\n"
        "device 0596:0102 nofeatures composite extra-feature=0x20:9\n"
        "device 0596:0102\n");
    ASSERT_EQ(s.devices.size(), 3u);
    EXPECT_TRUE(s.devices[0].composite);
    EXPECT_TRUE(s.devices[0].featureValues);
    EXPECT_TRUE(s.devices[1].composite);
    EXPECT_FALSE(s.devices[1].featureValues);
    EXPECT_EQ(s.devices[1].extraReportId, 0x20);
    EXPECT_FALSE(s.devices[2].composite);
}

TEST(ScenarioParse, TouchDefaultsOptionsAndHexNumbers)
{
    SimScenario s = ParseOk(
        "touch -1536 1536\n"
        "touch 0x10 -0x800 samples=33 jitter=4 per-report=1 rest=0\n"
        "touch 2047 -2048 rest=5 samples=1\n");
    ASSERT_EQ(s.touches.size(), 3u);
    EXPECT_EQ(s.touches[0].x, -1536);
    EXPECT_EQ(s.touches[0].y, 1536);
    EXPECT_EQ(s.touches[0].samples, 40);
    EXPECT_EQ(s.touches[0].jitter, 0);
    EXPECT_EQ(s.touches[0].perReport, 2);
    EXPECT_EQ(s.touches[0].rest, 1);
    EXPECT_EQ(s.touches[1].x, 16);
    EXPECT_EQ(s.touches[1].y, -2048);
    EXPECT_EQ(s.touches[1].samples, 33);
    EXPECT_EQ(s.touches[1].jitter, 4);
    EXPECT_EQ(s.touches[1].perReport, 1);
    EXPECT_EQ(s.touches[1].rest, 0);
    EXPECT_EQ(s.touches[2].rest, 5);
    EXPECT_EQ(s.touches[2].samples, 1);
}

TEST(ScenarioParse, LinearizationListAndFill)
{
    std::string list = "linearization";
    for (int i = 0; i < 50; ++i)
        list += " " + std::to_string(i % 2 == 0 ? -128 + i : 127 - i);
    SimScenario s = ParseOk(list + "\n");
    EXPECT_EQ(s.linearization[0], -128);
    EXPECT_EQ(s.linearization[1], 126);
    EXPECT_EQ(s.linearization[48], -80);
    EXPECT_EQ(s.linearization[49], 78);

    SimScenario f = ParseOk("linearization fill 10 -3\n");
    for (int k = 0; k < 25; ++k) {
        EXPECT_EQ(f.linearization[2 * k], 10);
        EXPECT_EQ(f.linearization[2 * k + 1], -3);
    }
}

TEST(ScenarioParse, CalibrationPageBytesAreHexadecimal)
{
    SimScenario s = ParseOk("calibration-page 10 ff 0x7f" + Repeat("a", 22) + " 00\n");
    EXPECT_EQ(s.calibrationPage[0], 0x10);
    EXPECT_EQ(s.calibrationPage[1], 0xFF);
    EXPECT_EQ(s.calibrationPage[2], 0x7F);
    EXPECT_EQ(s.calibrationPage[3], 0x0A);
    EXPECT_EQ(s.calibrationPage[25], 0x00);
}

TEST(ScenarioParse, StatusAsciiRefusalsAndPointer)
{
    SimScenario s = ParseOk(
        "status-touch\nstatus-touch after=0\n"
        "ascii-start reply=7 after=5\nascii-touch\nascii-touch after=9\n"
        "refuse set 3\nrefuse get 0x80 times=2 from=4\ntouch-from pointer\nrefuse any from=7\n");
    EXPECT_EQ(s.statusTouches, (std::vector<int>{3, 0}));
    EXPECT_EQ(s.asciiStartReply, "7");
    EXPECT_EQ(s.asciiStartAfter, 5);
    EXPECT_EQ(s.asciiTouches, (std::vector<int>{2, 9}));
    ASSERT_EQ(s.refusals.size(), 3u);
    EXPECT_TRUE(s.refusals[2].any);
    EXPECT_EQ(s.refusals[2].from, 7);
    EXPECT_EQ(s.refusals[2].times, -1);
    EXPECT_FALSE(s.refusals[0].any);
    EXPECT_TRUE(s.refusals[0].set);
    EXPECT_EQ(s.refusals[0].reportId, 3);
    EXPECT_EQ(s.refusals[0].times, -1);
    EXPECT_EQ(s.refusals[0].from, 1);
    EXPECT_FALSE(s.refusals[1].set);
    EXPECT_EQ(s.refusals[1].reportId, 0x80);
    EXPECT_EQ(s.refusals[1].times, 2);
    EXPECT_EQ(s.refusals[1].from, 4);
    EXPECT_TRUE(s.touchFromPointer);
    EXPECT_EQ(s.pageReadId, 5);
    EXPECT_TRUE(s.pageReadEchoes);

    SimScenario faulty = ParseOk("page-read id=0x03 header=zero\n");
    EXPECT_EQ(faulty.pageReadId, 3);
    EXPECT_FALSE(faulty.pageReadEchoes);
}

// Each refused line is placed on line 3 behind two good lines, so the line count is checked too.
struct BadLine {
    const char* line;
    const char* reasonPart;
};

class ScenarioRefuses : public testing::TestWithParam<BadLine> {};

TEST_P(ScenarioRefuses, NamesFileLineAndReason)
{
    std::string error = ParseError("device 0596:0100\n# comment\n" + std::string(GetParam().line) +
                                   "\ntouch 0 0\n");
    EXPECT_EQ(error.rfind("bad.sim:3: ", 0), 0u) << error;
    EXPECT_NE(error.find(GetParam().reasonPart), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    EveryClassOfError, ScenarioRefuses,
    testing::Values(
        // directives and options
        BadLine{"devices 0596:0100", "unknown directive"},
        BadLine{"touch 0 0 pressure=3", "unknown option"},
        BadLine{"touch 0 0 samples=3 samples=4", "twice"},
        BadLine{"touch 0 0 samples=", "no value"}, BadLine{"touch-from keyboard", "touch source"},
        BadLine{"refuse put 3", "neither set nor get"}, BadLine{"refuse any 3", "unexpected"},
        // missing and extra arguments
        BadLine{"device", "missing"}, BadLine{"device 0596:0100 nofeatures extra", "unexpected"},
        BadLine{"device 0596:0100 features", "unexpected"},
        BadLine{"device 0596:0100 extra-feature=0x20:9 nofeatures", "unexpected"},
        BadLine{"device 0596:0100 extra-feature=0x20", "ID:LENGTH"},
        BadLine{"device 0596:0100 extra-feature=0:9", "out of range"},
        BadLine{"device 0596:0100 extra-feature=0x20:1", "out of range"},
        BadLine{"device 0596:0100 extra-feature=0x20:4097", "out of range"},
        BadLine{"device 0596:0100 extra-feature=5:9", "controller's own"},
        BadLine{"device 0596:0100 extra-feature=0x20:9 extra-feature=0x21:9", "twice"},
        BadLine{"touch 5", "missing"}, BadLine{"touch 5 6 7", "unexpected"},
        BadLine{"touch 5 samples=40", "missing"}, BadLine{"status-touch 3", "unexpected"},
        BadLine{"refuse set", "missing"}, BadLine{"touch-from", "usage"},
        BadLine{"linearization fill 1", "usage"},
        BadLine{"device 0596:0100 composite composite", "unexpected"},
        BadLine{"device 0596:0100 composite nofeatures", "unexpected"},
        // identifiers
        BadLine{"device 596:0100", "VVVV:PPPP"}, BadLine{"device 0596:01000", "VVVV:PPPP"},
        BadLine{"device 05g6:0100", "VVVV:PPPP"}, BadLine{"device 0x596:0100", "VVVV:PPPP"},
        // numbers
        BadLine{"touch 12x 0", "not a number"}, BadLine{"touch 0x 0", "not a number"},
        BadLine{"touch +5 0", "not a number"},
        BadLine{"touch 0 99999999999999999999999", "not a number"},
        BadLine{"touch 0 0 samples=18446744073709551617", "not a number"},
        BadLine{"touch 2048 0", "out of range"}, BadLine{"touch 0 -2049", "out of range"},
        BadLine{"touch 0 0 samples=0", "out of range"},
        BadLine{"touch 0 0 per-report=3", "out of range"},
        BadLine{"touch 0 0 rest=-1", "out of range"},
        BadLine{"touch 0 0 jitter=-2", "out of range"},
        BadLine{"status-touch after=-1", "out of range"},
        BadLine{"ascii-start after=-3", "out of range"}, BadLine{"refuse get 256", "out of range"},
        BadLine{"refuse get 8 times=0", "out of range"},
        BadLine{"refuse get 8 from=0", "out of range"},
        // byte lists
        BadLine{"linearization 1 2 3", "50 bytes"},
        BadLine{"linearization fill 128 0", "out of range"},
        BadLine{"calibration-page 00 01", "26 bytes"},
        BadLine{
            "calibration-page 100 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
            "00 00 00 00",
            "out of range"},
        BadLine{
            "calibration-page zz 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
            "00 00 00 00",
            "not a hexadecimal byte"},
        // replies
        BadLine{"ascii-start reply=", "no value"},
        BadLine{"ascii-start reply=0123456789012345678901234567890123456789012345678901234",
                "longer than"},
        BadLine{"device 0596:0100\x01", "unexpected character"},
        BadLine{"page-read id=256", "out of range"},
        BadLine{"page-read header=some", "neither echo nor zero"},
        BadLine{"page-read 5", "unexpected"}));

TEST(ScenarioParse, SingleValuedDirectivesMustNotRepeat)
{
    const std::string page = "calibration-page" + Repeat("00", 26) + "\n";
    std::string lin = "linearization" + Repeat("0", 50) + "\n";
    EXPECT_EQ(ParseError(page + "\n" + page).rfind("bad.sim:3: ", 0), 0u);
    EXPECT_EQ(ParseError(lin + "linearization fill 1 1\n").rfind("bad.sim:2: ", 0), 0u);
    EXPECT_EQ(ParseError("ascii-start\nascii-start reply=0\n").rfind("bad.sim:2: ", 0), 0u);
    EXPECT_EQ(ParseError("touch-from pointer\ntouch-from pointer\n").rfind("bad.sim:2: ", 0), 0u);
    EXPECT_EQ(ParseError("page-read id=0\npage-read\n").rfind("bad.sim:2: ", 0), 0u);
}

TEST(ScenarioParse, ReplyBodyMayBeLongestThatFitsOneReport)
{
    SimScenario s = ParseOk("ascii-start reply=" + std::string(54, 'A') + "\n");
    EXPECT_EQ(s.asciiStartReply.size(), 54u);
}

TEST(ScenarioParse, ByteOrderMarkAndCrLfAreTolerated)
{
    SimScenario s = ParseOk(
        "\xEF\xBB\xBF"
        "device 0596:0003\r\nstatus-touch after=1\r\n");
    ASSERT_EQ(s.devices.size(), 1u);
    EXPECT_EQ(s.statusTouches, (std::vector<int>{1}));
}

TEST(ScenarioParse, FailedParseLeavesOutputUntouched)
{
    SimScenario s;
    s.asciiStartReply = "keep";
    std::string error;
    EXPECT_FALSE(ParseScenario("device 0596:0100\ntouch 1\n", "f", &s, &error));
    EXPECT_EQ(s.asciiStartReply, "keep");
    EXPECT_TRUE(s.devices.empty());
}

std::string WriteTemp(const std::string& content)
{
    char name[] = "/tmp/qavel-sim-scenario-XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    std::FILE* f = fdopen(fd, "w");
    std::fputs(content.c_str(), f);
    std::fclose(f);
    return name;
}

TEST(ScenarioFile, ErrorsNameThePathGivenAndMissingFilesFail)
{
    std::string path = WriteTemp("device 0596:0102\n\nrefuse get 8 times=x\n");
    SimScenario s;
    std::string error;
    EXPECT_FALSE(LoadScenarioFile(path, &s, &error));
    EXPECT_EQ(error.rfind(path + ":3: ", 0), 0u) << error;
    std::remove(path.c_str());

    EXPECT_FALSE(LoadScenarioFile("/nonexistent/dir/x.sim", &s, &error));
    EXPECT_EQ(error.rfind("/nonexistent/dir/x.sim: ", 0), 0u) << error;
    EXPECT_FALSE(LoadScenarioFile("/tmp", &s, &error)) << "a directory is not an empty scenario";
    EXPECT_EQ(error.rfind("/tmp: ", 0), 0u) << error;

    path = WriteTemp("device 0596:0102\ntouch -5 7\n");
    EXPECT_TRUE(LoadScenarioFile(path, &s, &error)) << error;
    EXPECT_EQ(s.devices.size(), 1u);
    EXPECT_EQ(s.touches.size(), 1u);
    std::remove(path.c_str());
}

TEST(ScenarioEnvironment, UnsetMeansNoDevicesAndBrokenFileExitsWithCodeTwo)
{
    unsetenv("QAVEL_SIM");
    EXPECT_TRUE(LoadScenarioFromEnvironmentOrExit().devices.empty());

    std::string good = WriteTemp("device 0596:0300\n");
    setenv("QAVEL_SIM", good.c_str(), 1);
    EXPECT_EQ(LoadScenarioFromEnvironmentOrExit().devices.size(), 1u);

    std::string bad = WriteTemp("device 0596:0300\ndevice 0596\n");
    setenv("QAVEL_SIM", bad.c_str(), 1);
    EXPECT_EXIT(LoadScenarioFromEnvironmentOrExit(), testing::ExitedWithCode(2), bad + ":2: ");
    setenv("QAVEL_SIM", "/nonexistent/qavel.sim", 1);
    EXPECT_EXIT(LoadScenarioFromEnvironmentOrExit(), testing::ExitedWithCode(2),
                "/nonexistent/qavel.sim");
    unsetenv("QAVEL_SIM");
    std::remove(good.c_str());
    std::remove(bad.c_str());
}

}  // namespace
