#pragma once
// A fresh simulated world per test: scenario, transcript, virtual clock, recording display.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "controller/session.h"
#include "inproc/recording_display.h"
#include "sim_controller.h"

struct SimWorld {
    SimController* sim = nullptr;
    std::FILE* transcript = nullptr;
};

// Where the calendar clock stands at virtual time 0: far from 0 and on a whole second, as on a
// real machine, so that a time limit counted from 0 instead of from its wait's start shows.
constexpr std::int64_t kCalendarStartMs = 1'700'000'000'000;

// Parses scenario text (the test fails on a parse error), installs it and resets the clock.
SimWorld StartWorld(const std::string& scenarioText, const RecordingDisplayOptions& options = {});

// Transcript lines so far, without their times: "set 03 8 ok 03 05 00 00 05 00 00 00".
std::vector<std::string> Transfers(const SimWorld& world);

// The same lines with their times: "1203 set 03 8 ok ...".
std::vector<std::string> TranscriptLines(const SimWorld& world);

void EndWorld(SimWorld* world);

// An opened session on the world's first supported device (the test fails if there is none).
ControllerSession* OpenSession();

// A line without its leading time field: "120 beep" -> "beep".
std::string WithoutTime(const std::string& line);
std::vector<std::string> WithoutTimes(const std::vector<std::string>& lines);

// The leading time field of a line, in ms.
std::uint64_t TimeOf(const std::string& line);

// One transfer of the transcript, as Transfers() lists it: "set 05 72 ok 05 01 00 ...".
struct TranscriptTransfer {
    std::string direction;  // "set" or "get"
    std::uint8_t reportId = 0;
    std::uint32_t length = 0;
    bool ok = false;
    std::vector<std::uint8_t> bytes;  // the report as sent or read, id first
};

// Parses one such line; the test fails (and the result is empty) on anything else.
TranscriptTransfer ParseTransfer(const std::string& line);

// count bytes of a transfer from index from on (fewer where the report is shorter).
std::vector<std::uint8_t> BytesAt(const TranscriptTransfer& transfer, std::size_t from,
                                  std::size_t count);

// Lines that start with prefix.
std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix);

// A world per test, ended after it; a test starts it with world = StartWorld(...).
class WorldTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (world.sim != nullptr) {
            EndWorld(&world);
        }
    }

    SimWorld world;
};

// A world with one opened session, closed without traffic at the end of the test.
class SessionTest : public WorldTest {
protected:
    // Starts the world from scenarioText and opens its controller; the calendar clock reads
    // calendarOffsetMs at virtual time 0.
    void Start(const std::string& scenarioText, std::int64_t calendarOffsetMs = kCalendarStartMs);
    // Closes the session and ends the world, so that a test can start another.
    void Finish();
    void TearDown() override
    {
        Finish();
    }

    ControllerSession* session = nullptr;
};
