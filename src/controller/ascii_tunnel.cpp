#include "controller/ascii_tunnel.h"

#include <algorithm>
#include <cstring>

#include "common/shared_state.h"
#include "common/strings.h"
#include "controller/abort_ending.h"
#include "controller/transport.h"
#include "platform/clock.h"
#include "platform/display.h"

std::uint8_t asciiReplyBuffer[256];

namespace {

constexpr std::uint8_t kAsciiReport = 9;
constexpr std::uint32_t kAsciiReportLength = 64;
constexpr std::uint32_t kPayloadOffset = 8;
constexpr std::uint32_t kChunk = 56;
constexpr std::uint8_t kFrameStart = 0x01;
constexpr std::uint8_t kFrameEnd = 0x0D;
constexpr std::uint32_t kPollPauseMs = 100;

const char kStartCommand[] =
    "\x01"
    "CX"
    "\x0D";
const char kSaveCommand[] =
    "\x01"
    "R"
    "\x0D";

// Finds the first frame (a body of at least one byte) in payload positions below bound.
bool FindFrame(const std::uint8_t* payload, std::uint32_t bound, std::uint32_t* start,
               std::uint32_t* end)
{
    for (std::uint32_t s = 0; s < bound; ++s) {
        if (payload[s] != kFrameStart) {
            continue;
        }
        for (std::uint32_t e = s + 2; e < bound; ++e) {
            if (payload[e] == kFrameEnd) {
                *start = s;
                *end = e;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool ExtractAsciiFrame(const std::uint8_t report[64], std::uint32_t capacity, std::uint8_t* out)
{
    if (report[0] != kAsciiReport) {
        return false;
    }
    const std::uint32_t n = report[7];
    if (n < 1 || n >= capacity) {
        return false;
    }
    // The length byte only narrows the search; the frame markers delimit the reply.
    const std::uint32_t bound = std::min(kChunk, capacity - n);
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    if (!FindFrame(report + kPayloadOffset, bound, &start, &end)) {
        return false;
    }
    const std::uint32_t frameLength = end - start + 1;
    std::memcpy(out, report + kPayloadOffset + start, frameLength);
    out[frameLength] = 0;
    return true;
}

bool FindReplyBody(const std::uint8_t* buffer, std::uint32_t size, std::uint32_t bodyLength,
                   std::uint8_t* body)
{
    bool matched = false;
    for (std::uint32_t p = 0; p + bodyLength + 1 < size; ++p) {
        if (buffer[p] == kFrameStart && buffer[p + bodyLength + 1] == kFrameEnd) {
            std::memcpy(body, buffer + p + 1, bodyLength);
            body[bodyLength] = 0;
            matched = true;
        }
    }
    return matched;
}

bool SendAsciiCommand(ControllerSession* session, const std::uint8_t* data, std::uint32_t length)
{
    if (session == nullptr || data == nullptr || length == 0) {
        return false;
    }
    std::uint32_t sent = 0;
    while (sent < length) {
        const std::uint32_t chunk = std::min(length - sent, kChunk);
        std::uint8_t report[kAsciiReportLength] = {};
        report[0] = kAsciiReport;
        report[1] = 0x0A;
        report[2] = static_cast<std::uint8_t>(chunk);
        std::memcpy(report + kPayloadOffset, data + sent, chunk);
        if (!SetFeatureRetry(session, report, kAsciiReportLength)) {
            return false;
        }
        sent += chunk;
    }
    return true;
}

bool ReadAsciiReply(ControllerSession* session, std::uint8_t* out, std::uint32_t capacity,
                    std::uint32_t timeoutMs)
{
    const std::int64_t limitSeconds = timeoutMs / 1000;
    const std::int64_t startSeconds = CalendarSeconds();
    if (session == nullptr || out == nullptr || capacity == 0) {
        return false;
    }
    PauseMs(kPollPauseMs);
    if (abortRequested.load() != 0) {
        return false;
    }
    for (;;) {
        std::uint8_t report[kAsciiReportLength] = {};
        report[0] = kAsciiReport;
        if (GetFeatureRetry(session, report, kAsciiReportLength) &&
            ExtractAsciiFrame(report, capacity, out)) {
            return true;
        }
        if (CalendarSeconds() - startSeconds >= limitSeconds) {
            return false;
        }
        PauseMs(kPollPauseMs);
        if (abortRequested.load() != 0) {
            return false;
        }
    }
}

bool ExchangeAsciiCommand(ControllerSession* session, const char* command, std::uint8_t* reply,
                          std::uint32_t replyLength, std::uint32_t timeoutMs)
{
    if (command == nullptr || reply == nullptr) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(command);
    if (!SendAsciiCommand(session, bytes, static_cast<std::uint32_t>(std::strlen(command)))) {
        return false;
    }
    if (!ReadAsciiReply(session, asciiReplyBuffer, sizeof asciiReplyBuffer, timeoutMs)) {
        return false;
    }
    return FindReplyBody(asciiReplyBuffer, sizeof asciiReplyBuffer, replyLength, reply);
}

bool ReadAsciiMessage(ControllerSession* session, std::uint8_t* out, std::uint32_t length,
                      std::uint32_t timeoutMs)
{
    if (out == nullptr || length + 1 >= sizeof asciiReplyBuffer) {
        return false;
    }
    if (!ReadAsciiReply(session, asciiReplyBuffer, sizeof asciiReplyBuffer, timeoutMs)) {
        return false;
    }
    if (asciiReplyBuffer[0] != kFrameStart || asciiReplyBuffer[length + 1] != kFrameEnd) {
        return false;
    }
    std::memcpy(out, asciiReplyBuffer + 1, length);
    return true;
}

bool StartAsciiCalibration(ControllerSession* session)
{
    std::uint8_t reply[3] = {};
    return ExchangeAsciiCommand(session, kStartCommand, reply, 1, 120000) && reply[0] == '0';
}

bool WaitAsciiTouch(ControllerSession* session)
{
    std::uint8_t message[3] = {};
    if (ReadAsciiMessage(session, message, 1, 20000) && message[0] == '1') {
        return true;
    }
    FinishAsciiCalibration(session);
    // The finishing step saves once more.
    GuardAt(session, RunPoint::Calibrating);
    return false;
}

void FinishAsciiCalibration(ControllerSession* session)
{
    ShowNotice(NOTICE_CAPTION, NOTICE_TEXT);
    // The exchange of "R", whose reply nothing looks at, with the guardian told of the save
    // between the command and the reply.
    const auto* save = reinterpret_cast<const std::uint8_t*>(kSaveCommand);
    if (SendAsciiCommand(session, save, sizeof kSaveCommand - 1)) {
        GuardAt(session, RunPoint::AsciiSaving);
        ReadAsciiReply(session, asciiReplyBuffer, sizeof asciiReplyBuffer, 5000);
    }
    PauseMs(1000);
    CloseNotice();
}
