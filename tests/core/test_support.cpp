#include "core/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/shared_state.h"
#include "controller/ascii_tunnel.h"
#include "inproc/inproc_hid.h"
#include "inproc/virtual_clock.h"

SimWorld StartWorld(const std::string& scenarioText, const RecordingDisplayOptions& options)
{
    SimScenario scenario;
    std::string error;
    EXPECT_TRUE(ParseScenario(scenarioText, "test.scenario", &scenario, &error)) << error;
    SimWorld world;
    world.transcript = std::tmpfile();
    world.sim = SimCreate(scenario, world.transcript);
    SimInprocInstall(world.sim);
    VirtualClockReset();
    RecordingDisplayReset(options);
    abortRequested.store(0);
    targetColor.store(kTargetGreen);
    currentSession = nullptr;
    std::memset(asciiReplyBuffer, 0, sizeof asciiReplyBuffer);
    return world;
}

std::vector<std::string> Transfers(const SimWorld& world)
{
    std::vector<std::string> lines;
    std::fflush(world.transcript);
    std::rewind(world.transcript);
    char buffer[1024];
    while (std::fgets(buffer, sizeof buffer, world.transcript) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        const auto space = line.find(' ');
        lines.push_back(space == std::string::npos ? line : line.substr(space + 1));
    }
    std::fseek(world.transcript, 0, SEEK_END);
    return lines;
}

void EndWorld(SimWorld* world)
{
    SimInprocInstall(nullptr);
    SimDestroy(world->sim);
    std::fclose(world->transcript);
    world->sim = nullptr;
    world->transcript = nullptr;
}

ControllerSession* OpenSession()
{
    ControllerSession* session = OpenController();
    EXPECT_NE(session, nullptr);
    return session;
}

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const auto& line : lines) {
        if (line.rfind(prefix, 0) == 0) {
            out.push_back(line);
        }
    }
    return out;
}

void SessionTest::Start(const std::string& scenarioText, std::int64_t calendarOffsetMs)
{
    world = StartWorld(scenarioText);
    VirtualClockReset(calendarOffsetMs);
    session = OpenSession();
}

void SessionTest::Finish()
{
    if (session != nullptr) {
        session->productId = kModelStatus0003;  // closes without the raw models' mode command
        CloseController(session);
        session = nullptr;
    }
    if (world.sim != nullptr) {
        EndWorld(&world);
    }
}
