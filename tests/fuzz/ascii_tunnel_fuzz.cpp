// The ASCII tunnel of model 0x0300: frame search in a read report, reply-body search, the chunking
// of a command, and a whole exchange against a device whose answers come from the fuzzer.
// Input: capacity, body length, command length, timeout, a 64-byte report, then the command bytes,
// then the device's answers.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "controller/ascii_tunnel.h"
#include "fake_device.h"

namespace {

void RequireFrameSearch(const std::uint8_t report[64], std::uint32_t capacity)
{
    // The first start marker below the bound with an end marker two or more places on.
    const std::uint32_t n = report[7];
    const bool ignored = report[0] != 9 || n < 1 || n >= capacity;
    const std::uint32_t bound = ignored ? 0 : (capacity - n < 56 ? capacity - n : 56);
    const std::uint8_t* payload = report + 8;
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    bool exists = false;
    for (std::uint32_t s = 0; s < bound && !exists; ++s) {
        for (std::uint32_t e = s + 2; payload[s] == 0x01 && e < bound && !exists; ++e) {
            if (payload[e] == 0x0D) {
                start = s;
                end = e;
                exists = true;
            }
        }
    }
    std::vector<std::uint8_t> out(capacity, 0xEE);  // exactly what the caller promises
    const bool found = ExtractAsciiFrame(report, capacity, out.data());
    FuzzRequire(found == exists, "a frame found or missed against the search rule");
    if (found) {
        const std::uint32_t length = end - start + 1;
        FuzzRequire(std::memcmp(out.data(), payload + start, length) == 0 && out[length] == 0,
                    "not the first frame, with its zero byte");
    }
}

void RequireBodySearch(const std::uint8_t* buffer, std::uint32_t size, std::uint32_t bodyLength)
{
    std::vector<std::uint8_t> body(bodyLength + 1, 0xEE);
    const bool found = FindReplyBody(buffer, size, bodyLength, body.data());
    std::uint32_t last = size;
    for (std::uint32_t p = 0; p + bodyLength + 1 < size; ++p) {
        if (buffer[p] == 0x01 && buffer[p + bodyLength + 1] == 0x0D) {
            last = p;
        }
    }
    FuzzRequire(found == (last != size), "a reply body found or missed wrongly");
    if (found) {
        FuzzRequire(
            std::memcmp(body.data(), buffer + last + 1, bodyLength) == 0 && body[bodyLength] == 0,
            "not the last matching body");
    }
}

void RequireChunks(const std::uint8_t* command, std::uint32_t length, bool sent)
{
    std::vector<std::uint8_t> joined;
    std::size_t reports = 0;
    const std::vector<FakeTransfer>& log = FakeLog();
    for (const LogicalTransfer& g : GroupRetries(log)) {
        const FakeTransfer& t = log[g.first];
        if (!t.set) {
            continue;
        }
        FuzzRequire(t.id == 9 && t.length == 64 && t.data[1] == 0x0A, "not a report 9 as written");
        const std::uint32_t n = t.data[2];
        FuzzRequire(n >= 1 && n <= 56, "a chunk length outside 1 to 56");
        for (std::uint32_t i = 3; i < 8; ++i) {
            FuzzRequire(t.data[i] == 0, "a header byte the program does not set");
        }
        for (std::uint32_t i = 8 + n; i < 64; ++i) {
            FuzzRequire(t.data[i] == 0, "payload not followed by zeros");
        }
        joined.insert(joined.end(), t.data.begin() + 8, t.data.begin() + 8 + n);
        ++reports;
        if (!g.ok) {
            break;
        }
    }
    if (sent) {
        FuzzRequire(joined.size() == length && std::memcmp(joined.data(), command, length) == 0 &&
                        reports == (length + 55) / 56,
                    "the command not sent whole, in chunks of 56");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kHeader = 5 + 64;
    if (size < kHeader) {
        return 0;
    }
    const std::uint32_t capacity = 1 + data[0];
    const std::uint32_t bodyLength = data[1] % 64;
    const std::uint32_t commandLength = data[2];
    const std::uint32_t timeoutMs = (data[3] % 8) * 700u;
    const std::uint8_t* report = data + 5;
    RequireFrameSearch(report, capacity);
    RequireBodySearch(report, 64, bodyLength);

    std::size_t used = kHeader;
    const std::uint32_t available = static_cast<std::uint32_t>(size - used);
    const std::uint32_t length = commandLength < available ? commandLength : available;
    std::vector<std::uint8_t> command(data + used, data + used + length);
    used += length;

    FakeReset(data + used, size - used, 0x0300, (data[4] * 4u) % 1000, 0);
    ControllerSession* session = OpenController();
    FuzzRequire(session != nullptr, "the one supported controller not opened");
    if ((data[3] & 0x80) == 0) {
        const bool sent = SendAsciiCommand(session, command.data(), length);
        FuzzRequire(length != 0 || (!sent && FakeLog().empty()), "an empty command sent");
        RequireChunks(command.data(), length, sent);
    } else {
        std::memset(asciiReplyBuffer, 0, sizeof asciiReplyBuffer);
        std::uint8_t reply[66] = {};
        const bool ok = ExchangeAsciiCommand(session,
                                             "\x01"
                                             "CX"
                                             "\x0D",
                                             reply, 1 + bodyLength % 64, timeoutMs);
        // The wait ends at the first check past its whole seconds, a poll of ten attempts late.
        FuzzRequire(FakeNowMs() <= 1000u + timeoutMs + 1000 + 1100 + 200,
                    "the wait outlasts its limit");
        FuzzRequire(!ok || reply[1 + bodyLength % 64] == 0, "a reply body without its zero byte");
    }
    RequireRetryPolicy(FakeLog());
    session->productId = kModelStatus0003;
    CloseController(session);
    return 0;
}
