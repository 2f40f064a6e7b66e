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

// Parses scenario text (the test fails on a parse error), installs it and resets the clock.
SimWorld StartWorld(const std::string& scenarioText, const RecordingDisplayOptions& options = {});

// Transcript lines so far, without their times: "set 03 8 ok 03 05 00 00 05 00 00 00".
std::vector<std::string> Transfers(const SimWorld& world);

void EndWorld(SimWorld* world);

// An opened session on the world's first supported device (the test fails if there is none).
ControllerSession* OpenSession();

// Lines that start with prefix.
std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix);

// A world with one opened session, closed without traffic at the end of the test.
class SessionTest : public ::testing::Test {
protected:
    // Starts the world from scenarioText and opens its controller; the calendar clock reads
    // calendarOffsetMs at virtual time 0.
    void Start(const std::string& scenarioText, std::int64_t calendarOffsetMs = 0);
    // Closes the session and ends the world, so that a test can start another.
    void Finish();
    void TearDown() override
    {
        Finish();
    }

    SimWorld world;
    ControllerSession* session = nullptr;
};
