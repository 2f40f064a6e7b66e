// A whole session of one model, open to close, against a device whose answers come from the
// fuzzer. Input: model, abort point (two bytes), calendar offset, then the answers.

#include <cstddef>
#include <cstdint>

#include "app/worker.h"
#include "common/shared_state.h"
#include "controller/session.h"
#include "fake_device.h"
#include "page_checks.h"

namespace {

constexpr std::uint32_t kModels[5] = {kModelStatus0003, kModelRaw0100, kModelRaw0102,
                                      kModelAscii0300, kModelStatus0400};
// The longest road the design allows: a 120 s start wait, two 20 s touch waits and two saves
// (0x0300), or three raw captures of at most 20 s each behind released-screen waits, each wait
// overrun by one poll of ten failed attempts; far below this.
constexpr std::uint64_t kRunBoundMs = 300 * 1000;

using Bytes = std::vector<std::uint8_t>;

const Bytes kEndMode = {3, 5, 0, 0, 7, 0, 0, 0};
const Bytes kBeginMode = {3, 5, 0, 0, 5, 0, 0, 0};
const Bytes kStart0003 = {0x10, 0x11, 1, 0, 0, 0, 0, 0};
const Bytes kStop0003 = {0x10, 0x12, 1, 0, 0, 0, 0, 0};
const Bytes kStart0400 = {3, 4, 1, 0, 0, 0, 0, 0};
const Bytes kPrepare0300 = {3, 5, 0, 0, 8, 0, 0, 0};
const Bytes kCleanup0300 = {3, 5, 0, 0, 10, 0, 0, 0};

bool IsAsciiCommand(const std::vector<FakeTransfer>& log, const LogicalTransfer& g,
                    const Bytes& frame)
{
    const FakeTransfer& t = log[g.first];
    if (!t.set || t.id != 9 || t.length != 64 || t.data[2] != frame.size()) {
        return false;
    }
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (t.data[8 + i] != frame[i]) {
            return false;
        }
    }
    return true;
}

// Only the reports the model uses, at their lengths.
void RequireModelReports(const std::vector<FakeTransfer>& log, std::uint32_t product)
{
    for (const FakeTransfer& t : log) {
        bool known = false;
        switch (product) {
        case kModelStatus0003:
            known = t.set ? t.id == 0x10 && t.length == 8 : t.id == 0x80 && t.length == 20;
            break;
        case kModelRaw0100:
        case kModelRaw0102:
            known = t.set ? (t.id == 3 && t.length == 8) || (t.id == 5 && t.length == 72)
                          : (t.id == 8 && t.length == 8) || (t.id == 5 && t.length == 72);
            break;
        case kModelAscii0300:
            known = (t.id == 9 && t.length == 64) || (t.set && t.id == 3 && t.length == 8);
            break;
        default: known = t.id == (t.set ? 3 : 6) && t.length == (t.set ? 8u : 64u); break;
        }
        FuzzRequire(known, "a report the model does not use");
    }
}

// A progress read answered with this value, after index `from` of the log; the index or npos.
std::size_t ProgressSeen(const std::vector<FakeTransfer>& log, std::uint32_t product,
                         std::int8_t value, std::size_t from)
{
    const std::size_t at = product == kModelStatus0003 ? 3 : 2;
    for (std::size_t i = from; i < log.size(); ++i) {
        const FakeTransfer& t = log[i];
        if (!t.set && t.ok && static_cast<std::int8_t>(t.data[at]) == value) {
            return i;
        }
    }
    return static_cast<std::size_t>(-1);
}

// Between the first and the last transfer, the status models only poll.
void RequireOnlyReadsBetween(const std::vector<FakeTransfer>& log,
                             const std::vector<LogicalTransfer>& g)
{
    for (std::size_t i = 1; i + 1 < g.size(); ++i) {
        FuzzRequire(!log[g[i].first].set, "a command in the middle of a status model's run");
    }
}

// The first and last transfers of each model's road, and what follows a failure that ends it.
void RequireRoad(const std::vector<FakeTransfer>& log, const std::vector<LogicalTransfer>& g,
                 std::uint32_t product, std::int32_t result)
{
    const std::size_t n = g.size();
    const Bytes kSaveFrame = {0x01, 'R', 0x0D};
    switch (product) {
    case kModelRaw0100:
    case kModelRaw0102:
        FuzzRequire(n >= 3 && IsSetOf(log, g[0], kBeginMode), "a raw run that does not begin");
        FuzzRequire(IsSetOf(log, g[n - 1], kEndMode) && IsSetOf(log, g[n - 2], kEndMode),
                    "a raw run that does not end with mode 7 at finish and at close");
        for (std::size_t i = 0; i + 2 < n; ++i) {
            const FakeTransfer& t = log[g[i].first];
            // A failed raw sample during sampling is ignored; any other failure ends the run.
            if (!g[i].ok && !(!t.set && t.id == 8)) {
                FuzzRequire(IsSetOf(log, g[i + 1], kEndMode), "a transfer past a failure");
            }
            FuzzRequire(!IsSetOf(log, g[i], kEndMode), "mode 7 before the end of the run");
        }
        FuzzRequire((result == ResultStartFailed) == !g[0].ok, "begin outcome not the begin's");
        FuzzRequire(g[0].ok || n == 3, "a transfer past a refused begin");
        break;
    case kModelStatus0400:
        FuzzRequire(n >= 2 && IsSetOf(log, g[0], kStart0400), "a 0x0400 run that does not start");
        FuzzRequire(IsSetOf(log, g[n - 1], kEndMode), "a 0x0400 run that does not end in mode 7");
        FuzzRequire(g[0].ok || n == 2, "a transfer past a refused start");
        FuzzRequire((result == ResultStartFailed) == !g[0].ok, "start outcome not the start's");
        RequireOnlyReadsBetween(log, g);
        break;
    case kModelStatus0003: {
        FuzzRequire(n >= 1 && IsSetOf(log, g[0], kStart0003), "a 0x0003 run that does not start");
        const bool stopped = IsSetOf(log, g[n - 1], kStop0003);
        FuzzRequire(stopped == (result != ResultSuccess), "stop sent unless, and only unless, ok");
        FuzzRequire(g[0].ok || n == 2, "a transfer past a refused start");
        FuzzRequire((result == ResultStartFailed) == !g[0].ok, "start outcome not the start's");
        RequireOnlyReadsBetween(log, g);
        if (!stopped) {
            FuzzRequire(n == 1 || !log[g[n - 1].first].set, "a command after a successful run");
        }
        break;
    }
    case kModelAscii0300:
        FuzzRequire(n >= 1 && IsSetOf(log, g[0], kPrepare0300), "a 0x0300 run without prepare");
        if (!g[0].ok) {
            FuzzRequire(n == 1, "a transfer past a refused prepare");
            FuzzRequire(result == ResultPrepareFailed, "a refused prepare not reported as such");
            break;
        }
        FuzzRequire(result != ResultPrepareFailed, "prepare failure without a refused prepare");
        FuzzRequire(
            n >= 4 && IsSetOf(log, g[n - 2], kCleanup0300) && IsSetOf(log, g[n - 1], kEndMode),
            "a 0x0300 run that does not end with cleanup and mode 7");
        for (std::size_t i = 1; i + 2 < n; ++i) {
            const FakeTransfer& t = log[g[i].first];
            if (!g[i].ok && t.set) {
                FuzzRequire(IsAsciiCommand(log, g[i + 1], kSaveFrame) ||
                                IsSetOf(log, g[i + 1], kCleanup0300),
                            "a transfer past a failed send");
            }
        }
        break;
    default: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) {
        return 0;
    }
    const std::uint32_t product = kModels[data[0] % 5];
    const std::size_t abortAt =
        (data[1] & 0x80) != 0 ? ((static_cast<std::size_t>(data[1] & 0x7F) << 8) | data[2]) + 1 : 0;
    FakeReset(data + 4, size - 4, static_cast<std::uint16_t>(product), (data[3] * 4u) % 1000,
              abortAt);

    currentSession = OpenController();
    FuzzRequire(currentSession != nullptr, "the one supported controller not opened");
    CalibrationWorker(new WindowHandle(CreateCalibrationWindow()));
    // Closing may pass the abort point too; only an Esc before the result counts.
    const bool aborted = FakeAbortRaised();
    const ControllerSession points = *currentSession;
    CloseController(currentSession);
    currentSession = nullptr;

    const std::vector<FakeTransfer>& log = FakeLog();
    const FakeDisplay& display = FakeDisplayState();
    const std::int32_t result = display.result;

    FuzzRequire(FakeNowMs() <= kRunBoundMs, "the run outlasts the design's time limits");
    FuzzRequire(display.doneMessages == 1, "not exactly one result posted");
    FuzzRequire(result == ResultSuccess || result == ResultPrepareFailed ||
                    result == ResultStartFailed || result == ResultInvalidTouch ||
                    result == ResultUserAbort,
                "a result the sequence does not give");
    FuzzRequire(result != ResultUserAbort || aborted, "a user abort without Esc");
    FuzzRequire(result != ResultInvalidTouch || !aborted, "an invalid touch after Esc");
    FuzzRequire(display.noticeDepth == 0 && !display.noticeNested, "the notice left open");
    FuzzRequire(product == kModelAscii0300 || display.noticesShown == 0,
                "a notice for a model that does not save");
    if (result == ResultSuccess) {
        const int targets = product == kModelRaw0100 ? 3 : 2;
        FuzzRequire(display.targetsShown == 2 * targets, "success without every target taken");
    }

    RequireRetryPolicy(log);
    RequireModelReports(log, product);
    const std::vector<LogicalTransfer> groups = GroupRetries(log);
    RequireRoad(log, groups, product, result);
    const PageWrites writes = RequirePageRules(log, groups, product, points);
    if (product == kModelRaw0100 || product == kModelRaw0102) {
        const bool stored =
            writes.calibrationStored && (product == kModelRaw0102 || writes.gridCleared);
        FuzzRequire((result == ResultSuccess) == stored, "success other than a stored page");
    }
    if ((product == kModelStatus0003 || product == kModelStatus0400) && result == ResultSuccess) {
        const std::size_t first = ProgressSeen(log, product, 2, 0);
        FuzzRequire(first != static_cast<std::size_t>(-1) &&
                        ProgressSeen(log, product, 3, first + 1) != static_cast<std::size_t>(-1),
                    "success without the controller accepting both targets");
    }
    return 0;
}
