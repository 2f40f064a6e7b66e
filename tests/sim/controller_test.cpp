// The simulated controller's device side, driven directly: report layouts, the scripted touches,
// pages, the ASCII tunnel, progress, refusals and the transcript.

#include "sim_controller.h"
#include "sim_reports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A simulator built from scenario text, with its transcript in a temporary file that is read back
// through a stream of its own, so that only flushed lines are seen.
struct Rig {
    SimController* sim = nullptr;
    std::FILE* log = nullptr;
    std::string logPath;
    std::uint64_t now = 0;

    explicit Rig(const std::string& text)
    {
        SimScenario scenario;
        std::string error;
        EXPECT_TRUE(ParseScenario(text, "rig.sim", &scenario, &error)) << error;
        char name[] = "/tmp/qavel-sim-transcript-XXXXXX";
        int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        logPath = name;
        log = fdopen(fd, "w");
        sim = SimCreate(scenario, log);
    }
    ~Rig()
    {
        SimDestroy(sim);
        std::fclose(log);
        std::remove(logPath.c_str());
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    bool Set(Bytes report, int device = 0)
    {
        now += 100;
        return SimSetFeature(sim, device, report.data(), static_cast<std::uint32_t>(report.size()),
                             now);
    }
    // A read of `length` bytes of report `id`; empty when the read failed.
    Bytes Get(std::uint8_t id, std::size_t length, int device = 0)
    {
        Bytes b(length, 0);
        b[0] = id;
        now += 100;
        if (!SimGetFeature(sim, device, b.data(), static_cast<std::uint32_t>(length), now))
            return {};
        return b;
    }
    std::vector<std::string> Transcript() const
    {
        std::vector<std::string> lines;
        std::ifstream in(logPath);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(content.empty() || content.back() == '\n');
        std::size_t pos = 0;
        while (pos < content.size()) {
            std::size_t end = content.find('\n', pos);
            lines.push_back(content.substr(pos, end - pos));
            pos = end + 1;
        }
        return lines;
    }
};

Bytes Command3(std::uint8_t code, std::uint8_t b2, std::uint8_t b4, std::uint8_t b6)
{
    return {3, code, b2, 0, b4, 0, b6, 0};
}

// Independent decoding of report 8, written from the bit table rather than from the packer.
struct Decoded {
    bool present1, touching1, present2, touching2;
    int x1, y1, x2, y2;
};

int Signed12(int v)
{
    return v >= 2048 ? v - 4096 : v;
}

Decoded Decode(const Bytes& r)
{
    Decoded d{};
    d.touching1 = (r[1] & 1) != 0;
    d.present1 = (r[1] & 2) != 0;
    d.x1 = Signed12((r[1] >> 4) | (r[2] << 4));
    d.y1 = Signed12(r[3] | ((r[4] & 0x0F) << 8));
    d.touching2 = (r[4] & 0x10) != 0;
    d.present2 = (r[4] & 0x20) != 0;
    d.x2 = Signed12(r[5] | ((r[6] & 0x0F) << 8));
    d.y2 = Signed12((r[6] >> 4) | (r[7] << 4));
    return d;
}

// ---- report 8 layout -------------------------------------------------------------------------

TEST(RawReportLayout, PacksTheDocumentedExample)
{
    std::uint8_t report[8];
    SimPackRawReport({true, true, 293, 1332}, {true, false, -32, 2047}, report);
    EXPECT_EQ(Bytes(report, report + 8), (Bytes{0x08, 0x53, 0x12, 0x34, 0x25, 0xE0, 0xFF, 0x7F}));
}

TEST(RawReportLayout, CoordinateFieldsAreTwelveBitTwosComplement)
{
    EXPECT_EQ(SimDecodeCoordinate(0x800), -2048);
    EXPECT_EQ(SimDecodeCoordinate(0xFFF), -1);
    EXPECT_EQ(SimDecodeCoordinate(0x7FF), 2047);
    EXPECT_EQ(SimDecodeCoordinate(0x000), 0);
    for (int v : {-2048, -1, 0, 1, 293, -32, 2047}) {
        for (int w : {-2048, -1, 0, 2047}) {
            std::uint8_t report[8];
            SimPackRawReport({true, false, v, w}, {true, true, w, v}, report);
            Decoded d = Decode(Bytes(report, report + 8));
            EXPECT_EQ(d.x1, v);
            EXPECT_EQ(d.y1, w);
            EXPECT_EQ(d.x2, w);
            EXPECT_EQ(d.y2, v);
            EXPECT_TRUE(d.present1 && d.present2 && d.touching2 && !d.touching1);
        }
    }
}

TEST(RawReportLayout, AbsentSlotsAndUnusedBitsStayZero)
{
    std::uint8_t report[8];
    SimPackRawReport({}, {}, report);
    EXPECT_EQ(Bytes(report, report + 8), (Bytes{8, 0, 0, 0, 0, 0, 0, 0}));
    SimPackRawReport({true, true, -1, -1}, {true, true, -1, -1}, report);
    EXPECT_EQ(report[1] & 0x0C, 0);
    EXPECT_EQ(report[4] & 0xC0, 0);
}

// ---- scripted touches ------------------------------------------------------------------------

TEST(RawTouchScript, RestThenSamplesWithJitterThenLiftThenReleased)
{
    Rig rig("device 0596:0102\ntouch 100 -200 samples=5 jitter=3 rest=2\n");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(rig.Get(8, 8), (Bytes{8, 0, 0, 0, 0, 0, 0, 0})) << "rest read " << i;
    }
    // Sample k lies at offset ((k mod 3) - 1) * 3 on both axes; the fifth is the lift.
    const int offsets[5] = {-3, 0, 3, -3, 0};
    std::vector<Decoded> seen;
    for (int i = 0; i < 3; ++i)
        seen.push_back(Decode(rig.Get(8, 8)));
    ASSERT_TRUE(seen[0].present1 && seen[0].present2 && seen[1].present1 && seen[1].present2);
    EXPECT_TRUE(seen[2].present1);
    EXPECT_FALSE(seen[2].present2) << "the lift sample ends the report";
    int k = 0;
    for (const Decoded& d : seen) {
        for (int slot = 0; slot < 2 && k < 5; ++slot, ++k) {
            int x = slot == 0 ? d.x1 : d.x2;
            int y = slot == 0 ? d.y1 : d.y2;
            bool touching = slot == 0 ? d.touching1 : d.touching2;
            EXPECT_EQ(x, 100 + offsets[k]) << "sample " << k;
            EXPECT_EQ(y, -200 + offsets[k]) << "sample " << k;
            EXPECT_EQ(touching, k != 4) << "sample " << k;
        }
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(rig.Get(8, 8), (Bytes{8, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(RawTouchScript, OneSamplePerReportClampedAtTheEdgesAndTouchesInOrder)
{
    Rig rig(
        "device 0596:0100\n"
        "touch 2047 -2048 samples=3 jitter=10 per-report=1 rest=0\n"
        "touch 5 6 samples=1\n");
    Decoded a = Decode(rig.Get(8, 8));
    EXPECT_EQ(a.x1, 2037);
    EXPECT_EQ(a.y1, -2048);
    EXPECT_FALSE(a.present2);
    Decoded b = Decode(rig.Get(8, 8));
    EXPECT_EQ(b.x1, 2047);
    EXPECT_EQ(b.y1, -2048);
    Decoded c = Decode(rig.Get(8, 8));
    EXPECT_EQ(c.x1, 2047) << "2047 + 10 is clamped";
    EXPECT_EQ(c.y1, -2038);
    EXPECT_FALSE(c.touching1);
    EXPECT_FALSE(Decode(rig.Get(8, 8)).present1) << "rest of the second touch";
    Decoded d = Decode(rig.Get(8, 8));
    EXPECT_TRUE(d.present1 && !d.touching1 && !d.present2);
    EXPECT_EQ(d.x1, 5);
    EXPECT_EQ(d.y1, 6);
}

TEST(RawTouchScript, DefaultTouchLastsFortySamplesAndQueuedTouchesFollow)
{
    Rig rig("device 0596:0102\ntouch -1536 -1536\n");
    SimQueueTouch(rig.sim, 1536, 1536);
    EXPECT_FALSE(Decode(rig.Get(8, 8)).present1);
    int samples = 0;
    Decoded last{};
    for (int i = 0; i < 20; ++i) {
        last = Decode(rig.Get(8, 8));
        samples += last.present1 + last.present2;
    }
    EXPECT_EQ(samples, 40);
    EXPECT_FALSE(last.touching2);
    EXPECT_FALSE(Decode(rig.Get(8, 8)).present1);
    Decoded q = Decode(rig.Get(8, 8));
    EXPECT_TRUE(q.present1 && q.touching1);
    EXPECT_EQ(q.x1, 1536);
}

// Touching samples read until the touch ends, and the one lift sample that ends it.
struct PointerTouch {
    int touching = 0;
    int lifts = 0;
    int reads = 0;
    Decoded last{};
};

PointerTouch ReadPointerTouch(Rig& rig, int maxReads = 100)
{
    PointerTouch t;
    while (t.lifts == 0 && t.reads < maxReads) {
        Decoded d = Decode(rig.Get(8, 8));
        ++t.reads;
        t.touching += (d.present1 && d.touching1) + (d.present2 && d.touching2);
        t.lifts += (d.present1 && !d.touching1) + (d.present2 && !d.touching2);
        t.last = d;
    }
    return t;
}

TEST(RawTouchScript, PointerClickOfAnyLengthIsALongEnoughTouch)
{
    {
        // Pressed and released before the controller was read even once.
        Rig rig("device 0596:0100\ntouch-from pointer\n");
        EXPECT_FALSE(Decode(rig.Get(8, 8)).present1);
        SimPointer(rig.sim, true, -700, 800);
        SimPointer(rig.sim, false, -690, 805);
        SimPointer(rig.sim, false, 1500, 1500);  // the mouse moves on after the click
        Decoded first = Decode(rig.Get(8, 8));
        EXPECT_TRUE(first.present1 && first.touching1 && first.present2 && first.touching2);
        EXPECT_EQ(first.x1, -690);
        EXPECT_EQ(first.y2, 805);
        PointerTouch rest = ReadPointerTouch(rig);
        EXPECT_EQ(2 + rest.touching, 39);
        EXPECT_EQ(rest.lifts, 1);
        EXPECT_EQ(rest.last.present1 ? rest.last.x1 : rest.last.x2, -690) << "lift where let go";
        EXPECT_FALSE(Decode(rig.Get(8, 8)).present1) << "released afterwards";
    }
    {
        // Held for longer than the minimum: touching for as long as held, then lift at once.
        Rig rig("device 0596:0102\ntouch-from pointer\n");
        SimPointer(rig.sim, true, 100, 200);
        for (int i = 0; i < 30; ++i) {
            Decoded d = Decode(rig.Get(8, 8));
            ASSERT_TRUE(d.present1 && d.touching1 && d.present2 && d.touching2) << i;
        }
        SimPointer(rig.sim, false, 100, 200);
        PointerTouch end = ReadPointerTouch(rig);
        EXPECT_EQ(end.reads, 1);
        EXPECT_EQ(end.touching, 0);
        EXPECT_EQ(end.lifts, 1);
    }
    {
        // A second click while the first one still plays joins it: one touch, one lift.
        Rig rig("device 0596:0100\ntouch-from pointer\n");
        SimPointer(rig.sim, true, 0, 0);
        SimPointer(rig.sim, false, 0, 0);
        for (int i = 0; i < 5; ++i)
            rig.Get(8, 8);
        SimPointer(rig.sim, true, 0, 0);
        SimPointer(rig.sim, false, 0, 0);
        PointerTouch rest = ReadPointerTouch(rig);
        EXPECT_EQ(10 + rest.touching, 39);
        EXPECT_EQ(rest.lifts, 1);
        EXPECT_FALSE(Decode(rig.Get(8, 8)).present1);
    }
}

TEST(RawTouchScript, PointerFromAnotherThreadNeverTearsAReport)
{
    // The adapters may feed the pointer from a thread of their own while the program polls.
    Rig rig("device 0596:0100\ntouch-from pointer\n");
    std::thread feeder([&rig] {
        for (int i = 0; i < 2000; ++i)
            SimPointer(rig.sim, i % 2 == 0, i % 2 == 0 ? 100 : -100, 7);
    });
    for (int i = 0; i < 2000; ++i) {
        Decoded d = Decode(rig.Get(8, 8));
        if (d.present1) {
            EXPECT_TRUE(d.x1 == 100 || d.x1 == -100) << i;
            EXPECT_EQ(d.y1, 7);
        }
        if (d.present1 && d.present2) {
            EXPECT_EQ(d.x2, d.x1) << "both samples of a report from one pointer state, " << i;
        }
    }
    feeder.join();
}

TEST(RawTouchScript, PointerIsIgnoredWithoutTouchFromPointer)
{
    Rig rig("device 0596:0100\n");
    SimPointer(rig.sim, true, 10, 10);
    EXPECT_FALSE(Decode(rig.Get(8, 8)).present1);
}

TEST(ScreenMapping, EdgesMapToPlusMinus1900WithYUpward)
{
    std::int32_t x = 0;
    std::int32_t y = 0;
    SimScreenToController(0, 768, 1024, 768, &x, &y);
    EXPECT_EQ(x, -1900);
    EXPECT_EQ(y, -1900);
    SimScreenToController(1024, 0, 1024, 768, &x, &y);
    EXPECT_EQ(x, 1900);
    EXPECT_EQ(y, 1900);
    SimScreenToController(128, 672, 1024, 768, &x, &y);  // the first target of the sequence
    EXPECT_EQ(x, -1425);
    EXPECT_EQ(y, -1425);
    SimScreenToController(5000, -5000, 1024, 768, &x, &y);
    EXPECT_EQ(x, 2047);
    EXPECT_EQ(y, 2047);
}

// ---- pages -----------------------------------------------------------------------------------

TEST(Pages, ReadReturnsSelectedPageWithHeaderDataAndFill)
{
    std::string page = "calibration-page";
    for (int i = 0; i < 26; ++i)
        page += " " + std::to_string(10 + i);  // hex 0x10.. 0x35
    Rig rig("device 0596:0102\nlinearization fill 10 -3\n" + page + "\n");
    EXPECT_TRUE(rig.Get(5, 72).empty()) << "nothing selected yet";

    ASSERT_TRUE(rig.Set(Command3(2, 0, 2, 50)));
    Bytes lin = rig.Get(5, 72);
    ASSERT_EQ(lin.size(), 72u);
    EXPECT_EQ(Bytes(lin.begin(), lin.begin() + 8), (Bytes{5, 1, 0, 0, 2, 0, 50, 0}));
    EXPECT_EQ(lin[8], 10);
    EXPECT_EQ(static_cast<std::int8_t>(lin[57]), -3);
    for (int i = 58; i < 72; ++i) {
        EXPECT_NE(lin[i], 0) << i;
        EXPECT_EQ(lin[i], SimPageFillByte(2, i));
    }

    ASSERT_TRUE(rig.Set(Command3(2, 0, 1, 26)));
    Bytes cal = rig.Get(5, 72);
    EXPECT_EQ(Bytes(cal.begin(), cal.begin() + 8), (Bytes{5, 1, 0, 0, 1, 0, 26, 0}));
    EXPECT_EQ(cal[8], 0x10);
    EXPECT_EQ(cal[33], 0x35);
    for (int i = 34; i < 72; ++i)
        EXPECT_NE(cal[i], 0) << i;
    EXPECT_EQ(SimPageReport(rig.sim, 1), cal);
}

TEST(Pages, WriteStoresNamedPageAndKeepsItsTail)
{
    Rig rig("device 0596:0100\n");
    ASSERT_TRUE(rig.Set(Command3(2, 0, 1, 26)));
    Bytes report = rig.Get(5, 72);
    ASSERT_EQ(report.size(), 72u);
    // Read-modify-write as the calibration store does it: the limits and the orientation byte.
    const Bytes limits = {0x00, 0x3E, 0x07, 0xCD, 0x00, 0x44, 0x07, 0xA0};
    std::copy(limits.begin(), limits.end(), report.begin() + 8);
    report[28] = 6;
    report[70] = 0x5A;  // a tail byte changed by the writer is kept as written
    ASSERT_TRUE(rig.Set(report));
    EXPECT_EQ(rig.Get(5, 72), report);
    Bytes data = SimPage(rig.sim, 1);
    ASSERT_EQ(data.size(), 26u);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 8), limits);
    EXPECT_EQ(data[20], 6);

    // Writing the linearization page needs no selection; the header names the page.
    Bytes clear(72, 0);
    clear[0] = 5;
    clear[1] = 1;
    clear[4] = 2;
    clear[6] = 50;
    ASSERT_TRUE(rig.Set(clear));
    EXPECT_EQ(SimPage(rig.sim, 2), Bytes(50, 0));
    EXPECT_EQ(rig.Get(5, 72), report) << "the selection still names page 1";
    EXPECT_EQ(SimPageReport(rig.sim, 2), clear);
}

TEST(Pages, UnknownPagesAndMismatchedLengthsAreRefused)
{
    Rig rig("device 0596:0102\n");
    EXPECT_FALSE(rig.Set(Command3(2, 0, 3, 26)));
    EXPECT_FALSE(rig.Set(Command3(2, 0, 1, 50)));
    EXPECT_FALSE(rig.Set(Command3(2, 0, 2, 26)));
    Bytes write(72, 0);
    write[0] = 5;
    write[4] = 1;
    write[6] = 50;
    EXPECT_FALSE(rig.Set(write));
    EXPECT_TRUE(SimPage(rig.sim, 3).empty());
    EXPECT_EQ(SimPage(rig.sim, 1), Bytes(26, 0));
}

// ---- models and report lengths ---------------------------------------------------------------

TEST(Models, EachModelHasOnlyItsReportsAtTheirLengths)
{
    Rig rig(
        "device 0596:0003\ndevice 0596:0100\ndevice 0596:0300\ndevice 0596:0400\n"
        "device 0596:0200\ndevice 1234:0100\ndevice 0596:0102 nofeatures\n");
    // 0x0003: report 0x10 and 0x80 only.
    EXPECT_FALSE(rig.Set(Command3(5, 0, 5, 0), 0));
    EXPECT_TRUE(rig.Set({0x10, 0x11, 1, 0, 0, 0, 0, 0}, 0));
    EXPECT_FALSE(rig.Set({0x10, 0x11, 1, 0, 0, 0, 0}, 0)) << "seven bytes";
    EXPECT_FALSE(rig.Set({0x10, 0x13, 1, 0, 0, 0, 0, 0}, 0)) << "unknown command";
    EXPECT_EQ(rig.Get(0x80, 20, 0).size(), 20u);
    EXPECT_TRUE(rig.Get(0x80, 64, 0).empty());
    EXPECT_TRUE(rig.Get(8, 8, 0).empty());
    EXPECT_TRUE(rig.Get(6, 64, 0).empty());
    // 0x0100: mode, page selection, reports 5 and 8; no start, no progress, no report 9.
    EXPECT_TRUE(rig.Set(Command3(5, 0, 5, 0), 1));
    EXPECT_FALSE(rig.Set(Command3(4, 1, 0, 0), 1));
    EXPECT_FALSE(rig.Set({3, 5, 0, 0, 5, 0, 0, 0, 0}, 1)) << "nine bytes";
    EXPECT_EQ(rig.Get(8, 8, 1).size(), 8u);
    EXPECT_TRUE(rig.Get(8, 9, 1).empty());
    EXPECT_TRUE(rig.Get(9, 64, 1).empty());
    EXPECT_TRUE(rig.Get(0x80, 20, 1).empty());
    // 0x0300: mode and report 9; no pages.
    EXPECT_TRUE(rig.Set(Command3(5, 0, 8, 0), 2));
    EXPECT_FALSE(rig.Set(Command3(2, 0, 1, 26), 2));
    EXPECT_EQ(rig.Get(9, 64, 2).size(), 64u);
    EXPECT_TRUE(rig.Get(9, 72, 2).empty());
    EXPECT_TRUE(rig.Get(8, 8, 2).empty());
    // 0x0400: mode, start and report 6.
    EXPECT_TRUE(rig.Set(Command3(4, 1, 0, 0), 3));
    EXPECT_EQ(rig.Get(6, 64, 3).size(), 64u);
    EXPECT_TRUE(rig.Get(0x80, 20, 3).empty());
    EXPECT_TRUE(rig.Set({0x10, 0x11, 1, 0, 0, 0, 0, 0}, 3) == false);
    // Unknown product, unknown vendor, no feature values: everything fails.
    for (int device = 4; device <= 6; ++device) {
        EXPECT_FALSE(rig.Set(Command3(5, 0, 5, 0), device));
        EXPECT_TRUE(rig.Get(8, 8, device).empty());
        EXPECT_TRUE(rig.Get(5, 72, device).empty());
    }
    // Out-of-range device index and empty transfers fail without harm.
    EXPECT_FALSE(rig.Set(Command3(5, 0, 5, 0), 7));
    EXPECT_FALSE(SimSetFeature(rig.sim, 1, nullptr, 8, 0));
    std::uint8_t none[1] = {8};
    EXPECT_FALSE(SimGetFeature(rig.sim, 1, none, 0, 0));
    EXPECT_EQ(SimDeviceCount(rig.sim), 7);
    EXPECT_EQ(SimDevice(rig.sim, 5).vendor, 0x1234);
    EXPECT_FALSE(SimDevice(rig.sim, 6).featureValues);
}

// ---- status models ---------------------------------------------------------------------------

TEST(StatusProgress, Model0003FollowsStartPollsAndStop)
{
    Rig rig("device 0596:0003\nstatus-touch\nstatus-touch after=1\n");
    auto progress = [&rig] { return rig.Get(0x80, 20)[3]; };
    EXPECT_EQ(progress(), 0) << "before the start";
    ASSERT_TRUE(rig.Set({0x10, 0x11, 1, 0, 0, 0, 0, 0}));
    std::vector<int> seen;
    for (int i = 0; i < 9; ++i)
        seen.push_back(progress());
    // Three polls see 1, the fourth the first acceptance; one more poll, then the second.
    EXPECT_EQ(seen, (std::vector<int>{1, 1, 1, 2, 2, 3, 3, 3, 3}));
    ASSERT_TRUE(rig.Set({0x10, 0x12, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(progress(), 0);
}

TEST(StatusProgress, Model0400StartsWithReport3AndCountsOnlyDeliveredPolls)
{
    Rig rig("device 0596:0400\nstatus-touch after=2\nrefuse get 6 times=2 from=2\n");
    auto progress = [&rig]() -> int {
        Bytes b = rig.Get(6, 64);
        return b.empty() ? -1 : b[2];
    };
    ASSERT_TRUE(rig.Set(Command3(4, 1, 0, 0)));
    // Refused polls never reach the controller and do not count.
    std::vector<int> seen;
    for (int i = 0; i < 6; ++i)
        seen.push_back(progress());
    EXPECT_EQ(seen, (std::vector<int>{1, -1, -1, 1, 2, 2}));
    ASSERT_TRUE(rig.Set(Command3(5, 0, 7, 0)));
    EXPECT_EQ(progress(), 0) << "end of calibration";
}

TEST(StatusProgress, PointerReleaseAcceptsTheNextTarget)
{
    Rig rig("device 0596:0003\ntouch-from pointer\n");
    ASSERT_TRUE(rig.Set({0x10, 0x11, 1, 0, 0, 0, 0, 0}));
    SimPointer(rig.sim, true, 0, 0);
    EXPECT_EQ(rig.Get(0x80, 20)[3], 1);
    SimPointer(rig.sim, false, 0, 0);
    EXPECT_EQ(rig.Get(0x80, 20)[3], 2);
    SimPointer(rig.sim, false, 0, 0);  // no press, no acceptance
    EXPECT_EQ(rig.Get(0x80, 20)[3], 2);
}

// ---- ASCII model -----------------------------------------------------------------------------

Bytes AsciiReport(const Bytes& payload)
{
    Bytes r(64, 0);
    r[0] = 9;
    r[1] = 0x0A;
    r[2] = static_cast<std::uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), r.begin() + 8);
    return r;
}

// The frame a poll returned, or "" for an empty poll.
std::string Frame(const Bytes& r)
{
    EXPECT_EQ(r.size(), 64u);
    if (r.size() != 64)
        return "?";
    EXPECT_EQ(r[0], 9);
    return std::string(r.begin() + 8, r.begin() + 8 + r[7]);
}

TEST(AsciiTunnelDevice, CommandAcrossTwoReportsIsAnsweredAfterTheScriptedPolls)
{
    Rig rig("device 0596:0300\nascii-start after=3\nascii-touch after=1\nascii-touch after=0\n");
    EXPECT_EQ(Frame(rig.Get(9, 64)), "") << "nothing before a command";
    ASSERT_TRUE(rig.Set(AsciiReport({0x01, 'C'})));
    EXPECT_EQ(Frame(rig.Get(9, 64)), "") << "half a command is not answered";
    ASSERT_TRUE(rig.Set(AsciiReport({'X', 0x0D})));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Frame(rig.Get(9, 64)), "") << "poll " << i;
    Bytes reply = rig.Get(9, 64);
    EXPECT_EQ(Frame(reply),
              "\x01"
              "0\x0D");
    EXPECT_EQ(reply[7], 3);
    EXPECT_EQ(Bytes(reply.begin() + 11, reply.end()), Bytes(53, 0));
    // Touch messages count their polls from the frame taken before them.
    EXPECT_EQ(Frame(rig.Get(9, 64)), "");
    EXPECT_EQ(Frame(rig.Get(9, 64)),
              "\x01"
              "1\x0D");
    EXPECT_EQ(Frame(rig.Get(9, 64)),
              "\x01"
              "1\x0D");
    EXPECT_EQ(Frame(rig.Get(9, 64)), "") << "no more scripted touches";
    // "R" is answered at the next poll.
    ASSERT_TRUE(rig.Set(AsciiReport({0x01, 'R', 0x0D})));
    EXPECT_EQ(Frame(rig.Get(9, 64)),
              "\x01"
              "0\x0D");
    EXPECT_EQ(Frame(rig.Get(9, 64)), "");
}

TEST(AsciiTunnelDevice, DefaultsReplyBodyAndNoTouchesBeforeTheStart)
{
    Rig rig("device 0596:0300\nascii-start reply=E1\nascii-touch\n");
    EXPECT_EQ(Frame(rig.Get(9, 64)), "");
    EXPECT_EQ(Frame(rig.Get(9, 64)), "") << "touch messages wait for an accepted start";
    // Noise before the start marker and an end marker right after it do not end the frame.
    ASSERT_TRUE(rig.Set(AsciiReport({'z', 0x01, 0x0D, 0x01, 'C', 'X', 0x0D})));
    EXPECT_EQ(Frame(rig.Get(9, 64)), "");
    EXPECT_EQ(Frame(rig.Get(9, 64)), "");
    EXPECT_EQ(Frame(rig.Get(9, 64)),
              "\x01"
              "E1\x0D");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Frame(rig.Get(9, 64)), "") << "refused start, no touches";
}

TEST(AsciiTunnelDevice, MalformedReportsAreRefusedAndSavingDropsPendingTouches)
{
    Rig rig("device 0596:0300\nascii-start after=0\nascii-touch after=5\nascii-touch after=0\n");
    Bytes bad = AsciiReport({0x01, 'C', 'X', 0x0D});
    bad[1] = 0x0B;
    EXPECT_FALSE(rig.Set(bad));
    bad = AsciiReport({});
    EXPECT_FALSE(rig.Set(bad)) << "payload length 0";
    bad[2] = 57;
    EXPECT_FALSE(rig.Set(bad));
    ASSERT_TRUE(rig.Set(AsciiReport({0x01, 'C', 'X', 0x0D})));
    EXPECT_EQ(Frame(rig.Get(9, 64)),
              "\x01"
              "0\x0D");
    ASSERT_TRUE(rig.Set(AsciiReport({0x01, 'R', 0x0D})));
    EXPECT_EQ(Frame(rig.Get(9, 64)),
              "\x01"
              "0\x0D");
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(Frame(rig.Get(9, 64)), "") << "poll " << i;
}

TEST(AsciiTunnelDevice, PointerReleaseAnnouncesATouchOnceStarted)
{
    Rig rig("device 0596:0300\nascii-start after=0\ntouch-from pointer\n");
    SimPointer(rig.sim, true, 0, 0);
    SimPointer(rig.sim, false, 0, 0);
    EXPECT_EQ(Frame(rig.Get(9, 64)), "") << "a click before the start is not a touch";
    ASSERT_TRUE(rig.Set(AsciiReport({0x01, 'C', 'X', 0x0D})));
    EXPECT_EQ(Frame(rig.Get(9, 64)),
              "\x01"
              "0\x0D");
    SimPointer(rig.sim, true, 0, 0);
    EXPECT_EQ(Frame(rig.Get(9, 64)), "");
    SimPointer(rig.sim, false, 0, 0);
    EXPECT_EQ(Frame(rig.Get(9, 64)),
              "\x01"
              "1\x0D");
}

// ---- refusals --------------------------------------------------------------------------------

TEST(Refusals, TimesAndFromCountPerDirectionAndReport)
{
    Rig rig("device 0596:0100\nrefuse set 3 times=2 from=2\nrefuse get 8\n");
    std::vector<bool> sets;
    for (int i = 0; i < 5; ++i)
        sets.push_back(rig.Set(Command3(5, 0, 5, 0)));
    EXPECT_EQ(sets, (std::vector<bool>{true, false, false, true, true}));
    EXPECT_TRUE(rig.Get(8, 8).empty());
    EXPECT_TRUE(rig.Get(8, 8).empty());
    // Other reports and directions are not affected; a refused set is not carried out.
    EXPECT_TRUE(rig.Set(Command3(2, 0, 1, 26)));
    EXPECT_EQ(rig.Get(5, 72).size(), 72u);
}

TEST(Refusals, AnyCountsEveryTransferOfTheInterfaceInOrder)
{
    // Transfers 3 and 4 fail whatever they are; from 6 on the interface is as good as gone.
    Rig rig("device 0596:0102\nrefuse any times=2 from=3\nrefuse any from=6\n");
    std::vector<bool> ok;
    ok.push_back(rig.Set(Command3(5, 0, 5, 0)));
    ok.push_back(!rig.Get(8, 8).empty());
    ok.push_back(rig.Set(Command3(2, 0, 2, 50)));
    ok.push_back(!rig.Get(5, 72).empty());
    ok.push_back(!rig.Get(8, 8).empty());
    ok.push_back(rig.Set(Command3(5, 0, 7, 0)));
    ok.push_back(!rig.Get(8, 8).empty());
    EXPECT_EQ(ok, (std::vector<bool>{true, true, false, false, true, false, false}));
}

TEST(Refusals, RefusedSetDoesNotReachTheController)
{
    Rig rig("device 0596:0102\nrefuse set 5 times=1\n");
    Bytes write(72, 0x11);
    write[0] = 5;
    write[4] = 1;
    write[6] = 26;
    EXPECT_FALSE(rig.Set(write));
    EXPECT_EQ(SimPage(rig.sim, 1), Bytes(26, 0));
    EXPECT_TRUE(rig.Set(write));
    EXPECT_EQ(SimPage(rig.sim, 1), Bytes(26, 0x11));
}

// ---- transcript ------------------------------------------------------------------------------

TEST(Transcript, OneLinePerTransferInTheFixedFormat)
{
    Rig rig("device 0596:0100\nrefuse get 8 times=1\ndevice ffff:ffff\n");
    rig.now = 1103;
    rig.Set(Command3(5, 0, 5, 0));               // 1203
    rig.Get(8, 8);                               // 1303, refused
    rig.Get(8, 8);                               // 1403
    rig.Set({3, 0xAB, 0, 0, 0, 0, 0, 0});        // 1503, unknown command
    rig.Set({0x10, 0x11, 1, 0, 0, 0, 0, 0}, 1);  // 1603, unsupported device
    std::vector<std::string> lines = rig.Transcript();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "1203 set 03 8 ok 03 05 00 00 05 00 00 00");
    EXPECT_EQ(lines[1], "1303 get 08 8 fail");
    EXPECT_EQ(lines[2], "1403 get 08 8 ok 08 00 00 00 00 00 00 00");
    EXPECT_EQ(lines[3], "1503 set 03 8 fail 03 ab 00 00 00 00 00 00");
    EXPECT_EQ(lines[4], "1603 set 10 8 fail 10 11 01 00 00 00 00 00");
}

TEST(Transcript, LongReportsAreLoggedWhole)
{
    Rig rig("device 0596:0300\n");
    rig.now = 41;
    rig.Get(9, 64);
    std::vector<std::string> lines = rig.Transcript();
    ASSERT_EQ(lines.size(), 1u);
    std::string expected = "141 get 09 64 ok 09";
    for (int i = 1; i < 64; ++i)
        expected += " 00";
    EXPECT_EQ(lines[0], expected);

    SimController* quiet = SimCreate(SimScenario{}, nullptr);
    std::uint8_t b[8] = {3, 5, 0, 0, 5, 0, 0, 0};
    EXPECT_FALSE(SimSetFeature(quiet, 0, b, 8, 0)) << "no devices, no transcript, no crash";
    SimDestroy(quiet);
}

}  // namespace
