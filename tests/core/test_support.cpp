#include "core/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

#include "common/shared_state.h"
#include "controller/ascii_tunnel.h"
#include "inproc/inproc_guardian.h"
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
    SimGuardianReset();
    VirtualClockReset(kCalendarStartMs);
    RecordingDisplayReset(options);
    abortRequested.store(0);
    targetColor.store(kTargetGreen);
    currentSession = nullptr;
    std::memset(asciiReplyBuffer, 0, sizeof asciiReplyBuffer);
    return world;
}

std::vector<std::string> TranscriptLines(const SimWorld& world)
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
        lines.push_back(line);
    }
    std::fseek(world.transcript, 0, SEEK_END);
    return lines;
}

std::vector<std::string> Transfers(const SimWorld& world)
{
    return WithoutTimes(TranscriptLines(world));
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

std::string WithoutTime(const std::string& line)
{
    const auto space = line.find(' ');
    return space == std::string::npos ? line : line.substr(space + 1);
}

std::vector<std::string> WithoutTimes(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const auto& line : lines) {
        out.push_back(WithoutTime(line));
    }
    return out;
}

std::uint64_t TimeOf(const std::string& line)
{
    std::uint64_t ms = 0;
    std::istringstream in(line);
    EXPECT_TRUE(static_cast<bool>(in >> ms)) << "no time in \"" << line << "\"";
    return ms;
}

TranscriptTransfer ParseTransfer(const std::string& line)
{
    std::istringstream in(line);
    TranscriptTransfer transfer;
    std::string status;
    unsigned id = 0;
    in >> transfer.direction >> std::hex >> id >> std::dec >> transfer.length >> status;
    const bool headOk = !in.fail() &&
                        (transfer.direction == "set" || transfer.direction == "get") &&
                        id <= 0xFF && (status == "ok" || status == "fail");
    EXPECT_TRUE(headOk) << "not a transfer: \"" << line << "\"";
    if (!headOk) {
        return {};
    }
    transfer.reportId = static_cast<std::uint8_t>(id);
    transfer.ok = status == "ok";
    std::string hex;
    while (in >> hex) {
        const bool isByte = hex.size() == 2 && std::isxdigit(static_cast<unsigned char>(hex[0])) &&
                            std::isxdigit(static_cast<unsigned char>(hex[1]));
        EXPECT_TRUE(isByte) << "\"" << hex << "\" in \"" << line << "\"";
        if (!isByte) {
            return {};
        }
        transfer.bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
    }
    return transfer;
}

std::vector<std::uint8_t> BytesAt(const TranscriptTransfer& transfer, std::size_t from,
                                  std::size_t count)
{
    const std::size_t size = transfer.bytes.size();
    const std::size_t begin = std::min(from, size);
    const std::size_t end = std::min(from + count, size);
    return std::vector<std::uint8_t>(transfer.bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                                     transfer.bytes.begin() + static_cast<std::ptrdiff_t>(end));
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
    WorldTest::TearDown();
}
