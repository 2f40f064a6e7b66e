// Every transfer of every model's golden run failing: once, for all of its retries, and with the
// device gone from that transfer on; and an abort (Esc and close) at every waiting stage. Each
// case states the outcome the design gives for the step the transfer belongs to.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/session_driver.h"
#include "common/shared_state.h"
#include "core/test_support.h"
#include "inproc/inproc_guardian.h"
#include "inproc/inproc_hid.h"
#include "inproc/virtual_clock.h"
#include "sim_controller.h"

namespace {

enum class Step {
    Prepare,
    Begin,
    ReleasedWait,  // raw capture: the wait for a released screen
    Sampling,
    StatusPoll,
    AsciiStartSend,
    AsciiStartReply,
    AsciiTouch,
    GridSelect,
    GridRead,
    PageSelect,
    PageRead,
    PageWrite,
    GridClear,
    Finish,  // everything from the finishing step on: finish, cleanup and close
};

const char* StepName(Step s)
{
    static const char* const kNames[] = {
        "prepare",     "begin",       "released-wait", "sampling",    "status-poll",
        "ascii-send",  "ascii-reply", "ascii-touch",   "grid-select", "grid-read",
        "page-select", "page-read",   "page-write",    "grid-clear",  "finish"};
    return kNames[static_cast<int>(s)];
}

enum class Variant { Once, AllRetries, Gone };

const char* VariantName(Variant v)
{
    return v == Variant::Once ? "once" : v == Variant::AllRetries ? "all retries" : "gone";
}

enum class Written { Nothing, CalibrationPage, Both };

const std::string kSuccess =
    "message information \"Calibration\" \"Calibration completed successfully.\"";
const std::string kAbort =
    "message information \"Calibration\" \"Calibration terminated by user.\"";
const std::string kPrepareFailed = "message error \"Error\" \"Cannot open touch screen driver.\"";
const std::string kStartFailed =
    "message error \"Error\" \"Cannot write to touch screen controller.\"";
const std::string kInvalid = "message error \"Error\" \"Invalid touch.\"";

struct Outcome {
    std::string message;
    Written written;
};

// What the design gives when the operation of a transfer in `step` fails for good (all of its
// retries) or the device is gone from it on.
Outcome Expected(Step step, Variant variant)
{
    if (variant == Variant::Once) {
        return {kSuccess, Written::Both};  // the transport's retry hides a single failure
    }
    const bool gone = variant == Variant::Gone;
    switch (step) {
    case Step::Prepare: return {kPrepareFailed, Written::Nothing};
    case Step::Begin:
    case Step::AsciiStartSend: return {kStartFailed, Written::Nothing};
    // A poll that reads nothing is only a poll without news; the time limit ends a dead device.
    case Step::AsciiStartReply:
        return gone ? Outcome{kStartFailed, Written::Nothing} : Outcome{kSuccess, Written::Both};
    case Step::Sampling:
    case Step::StatusPoll:
    case Step::AsciiTouch:
        return gone ? Outcome{kInvalid, Written::Nothing} : Outcome{kSuccess, Written::Both};
    case Step::ReleasedWait:
    case Step::GridSelect:
    case Step::GridRead:
    case Step::PageSelect:
    case Step::PageRead:
    case Step::PageWrite: return {kInvalid, Written::Nothing};
    case Step::GridClear: return {kInvalid, Written::CalibrationPage};
    case Step::Finish: return {kSuccess, Written::Both};
    }
    return {};
}

struct Transfer {
    bool set;
    bool ok;
    std::uint8_t id;
    std::vector<std::uint8_t> bytes;
};

Transfer Parse(const std::string& line)
{
    std::istringstream in(line);
    std::string direction, id, length, status;
    in >> direction >> id >> length >> status;
    Transfer t{direction == "set",
               status == "ok",
               static_cast<std::uint8_t>(std::stoul(id, nullptr, 16)),
               {}};
    std::string byte;
    while (in >> byte) {
        t.bytes.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
    }
    return t;
}

bool IsCommand3(const Transfer& t, std::uint8_t code, std::uint8_t b4)
{
    return t.set && t.id == 3 && t.bytes.size() == 8 && t.bytes[1] == code && t.bytes[4] == b4;
}

// The step of each transfer of a successful run, read from the transfers themselves.
std::vector<Step> Classify(std::uint32_t model, const std::vector<std::string>& lines)
{
    std::vector<Step> steps;
    bool released = true;  // raw: the next report 8 read belongs to a released-screen wait
    bool finishing = false;
    Step ascii = Step::AsciiStartReply;
    Step page = Step::GridRead;
    for (const std::string& line : lines) {
        const Transfer t = Parse(line);
        Step s = Step::Finish;
        if (finishing) {
            s = Step::Finish;
        } else if (model == kModelAscii0300) {
            if (IsCommand3(t, 5, 8)) {
                s = Step::Prepare;
            } else if (t.set && t.id == 9 && t.bytes[9] == 'C') {
                s = Step::AsciiStartSend;
                ascii = Step::AsciiStartReply;
            } else if (!t.set && t.id == 9) {
                s = ascii;
                if (t.bytes[7] != 0) {
                    ascii = Step::AsciiTouch;  // a frame was read: the next wait begins
                }
            } else {
                finishing = true;  // "R" under the notice, then the cleanup modes
            }
        } else if (model == kModelStatus0003 || model == kModelStatus0400) {
            if (t.set && (t.id == 0x10 ? t.bytes[1] == 0x11 : t.bytes[1] == 4)) {
                s = Step::Begin;
            } else if (!t.set) {
                s = Step::StatusPoll;
            } else {
                finishing = true;
            }
        } else if (IsCommand3(t, 5, 5)) {
            s = Step::Begin;
        } else if (!t.set && t.id == 8) {
            const bool slot1 = (t.bytes[1] & 0x02) != 0;
            const bool slot2 = (t.bytes[4] & 0x20) != 0;
            if (released) {
                s = Step::ReleasedWait;
                released = slot1;
            } else {
                s = Step::Sampling;
                const bool lifted =
                    slot2 ? (t.bytes[4] & 0x10) == 0 : slot1 && (t.bytes[1] & 0x01) == 0;
                released = lifted;
            }
        } else if (IsCommand3(t, 2, 2)) {
            s = Step::GridSelect;
            page = Step::GridRead;
        } else if (IsCommand3(t, 2, 1)) {
            s = Step::PageSelect;
            page = Step::PageRead;
        } else if (!t.set && t.id == 5) {
            s = page;
        } else if (t.set && t.id == 5) {
            s = t.bytes[4] == 1 ? Step::PageWrite : Step::GridClear;
        } else {
            finishing = true;
        }
        steps.push_back(s);
    }
    return steps;
}

// The set operations of a run, each retried attempt folded into one: "03 05 00 00 07 00 00 00".
std::vector<std::string> SetOperations(const std::vector<std::string>& lines)
{
    std::vector<std::string> ops;
    std::string previous;
    int attempts = 0;
    for (const std::string& line : lines) {
        const Transfer t = Parse(line);
        const std::string status = t.ok ? " ok" : " fail";
        const std::string what = line.substr(0, line.find(status)) +
                                 (t.set ? line.substr(line.find(status) + status.size()) : "");
        const bool retry = what == previous && attempts < 10;
        previous = t.ok ? std::string() : what;
        attempts = retry ? attempts + 1 : 1;
        if (retry || !t.set) {
            continue;
        }
        const std::size_t bytes = line.find(t.ok ? " ok " : " fail ") + (t.ok ? 4 : 6);
        ops.push_back(line.substr(bytes, 23));
    }
    return ops;
}

const std::string kMode7 = "03 05 00 00 07 00 00 00";

// The set operations a run of `model` must end with, given its message.
void ExpectEndOfCalibration(std::uint32_t model, const std::string& message,
                            const std::vector<std::string>& ops)
{
    ASSERT_FALSE(ops.empty());
    const bool success = message == kSuccess;
    switch (model) {
    case kModelRaw0100:
    case kModelRaw0102:
        // Finish, then once more at close: the end mode reaches even a controller left failing.
        ASSERT_GE(ops.size(), 3u);
        EXPECT_EQ(ops[ops.size() - 2], kMode7);
        EXPECT_EQ(ops.back(), kMode7);
        break;
    case kModelStatus0003:
        EXPECT_EQ(ops.back(), success ? "10 11 01 00 00 00 00 00" : "10 12 01 00 00 00 00 00");
        break;
    case kModelStatus0400: EXPECT_EQ(ops.back(), kMode7); break;
    case kModelAscii0300:
        if (message == kPrepareFailed) {
            EXPECT_EQ(ops, std::vector<std::string>({"03 05 00 00 08 00 00 00"}));
            break;
        }
        ASSERT_GE(ops.size(), 4u);
        EXPECT_EQ(ops[ops.size() - 3].substr(0, 8), "09 0a 03") << "the save command";
        EXPECT_EQ(ops[ops.size() - 2], "03 05 00 00 0a 00 00 00");
        EXPECT_EQ(ops.back(), kMode7);
        break;
    default: FAIL() << "model " << model;
    }
}

struct RunRecord {
    std::vector<std::string> events;
    std::vector<std::string> messages;
    std::vector<std::string> transfers;
    std::vector<std::uint8_t> calibrationPage;
    std::vector<std::uint8_t> gridPage;
    std::uint64_t endMs;
    std::vector<std::string> timedTransfers;
    GuardianRecord guardian;
};

std::string Hex(const std::uint8_t* bytes, std::size_t count)
{
    std::string out;
    for (std::size_t k = 0; k < count; ++k) {
        char hex[4];
        std::snprintf(hex, sizeof hex, k == 0 ? "%02x" : " %02x", bytes[k]);
        out += hex;
    }
    return out;
}

// What the guardian held just before atMs, one report a line.
std::vector<std::string> GuardedAt(const GuardianRecord& guardian, std::uint64_t atMs)
{
    std::vector<std::string> reports;
    for (const GuardianArming& arming : guardian.armings) {
        if (arming.atMs >= atMs) {
            break;
        }
        reports.clear();
        for (std::uint32_t k = 0; k < arming.plan.count; ++k) {
            reports.push_back(Hex(arming.plan.steps[k].report, arming.plan.steps[k].length));
        }
    }
    return reports;
}

// What a run sent from atMs on that the guardian stands in for: every report but the pages'
// (their selection and report 5), a report repeated at once counted once.
std::vector<std::string> EndingFrom(const std::vector<std::string>& timed, std::uint64_t atMs)
{
    std::vector<std::string> reports;
    for (const std::string& line : timed) {
        const TranscriptTransfer t = ParseTransfer(WithoutTime(line));
        if (TimeOf(line) < atMs || t.direction != "set" || !t.ok || t.reportId == 5 ||
            (t.reportId == 3 && t.bytes.size() > 1 && t.bytes[1] == 2)) {
            continue;
        }
        const std::string report = Hex(t.bytes.data(), t.bytes.size());
        if (reports.empty() || reports.back() != report) {
            reports.push_back(report);
        }
    }
    return reports;
}

RunRecord RunProgramOn(const std::string& scenario, std::uint64_t abortAtMs = 0, bool close = false)
{
    SimWorld world = StartWorld(scenario);
    if (abortAtMs != 0) {
        VirtualClockSchedule(abortAtMs, [close] { close ? RequestClose() : PressEscape(); });
    }
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(SimInprocOpenCount(), 0) << "the controller is closed";
    RunRecord run{RecordedEvents(),      RecordedMessages(),    Transfers(world),
                  SimPage(world.sim, 1), SimPage(world.sim, 2), VirtualNowMs(),
                  TranscriptLines(world), SimGuardianRecord()};
    // Watched from before the first report that may change the controller's mode to the end.
    EXPECT_EQ(run.guardian.starts, 1);
    EXPECT_EQ(run.guardian.releases, 1);
    for (const std::string& line : run.timedTransfers) {
        if (ParseTransfer(WithoutTime(line)).direction == "set") {
            EXPECT_FALSE(run.guardian.armings.empty());
            EXPECT_LE(run.guardian.armings.front().atMs, TimeOf(line)) << line;
            break;
        }
    }
    EndWorld(&world);
    return run;
}

std::string ReadRunFile(const std::string& name)
{
    std::ifstream in(std::string(QAVEL_RUNS_DIR) + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Model {
    std::uint32_t id;
    const char* golden;  // scenario file of the golden run
    // Added to the golden scenario so that every page change shows: page bytes the program must
    // keep, and for model 0x0100 (computed with a zero grid) a grid page that its clear empties.
    const char* pages;
    // Longest run the design allows, in ms: every transfer operation at most 1 s (10 attempts
    // after 100 ms pauses), every wait at most its limit plus one second of calendar granularity
    // plus one last failing poll, and the fixed pauses.
    std::uint64_t boundMs;
};

// 0003: start 1 + two waits 22 + pauses 1.5 + stop 1.
// 0400: start 1 + 1 + two waits 22 + pauses 1.5 + mode 7 1.
// 0300: prepare 1 + "CX" 1 + reply 122 + two waits 22 + pauses 1.5 + two saves ("R" 1, reply 7,
//       pause 1) + two modes 2.
// 0100: begin 1 + three captures (released read 1, sampling 22) + pauses 2 + five page
//       operations + finish 1 + close 1 + 1; 0102 likewise with two captures and four operations.
void PrintTo(const Model& model, std::ostream* out)
{
    *out << model.golden;
}

#define QAVEL_KEPT_BYTES                                                                           \
    "calibration-page 11 22 33 44 55 66 77 88 99 aa bb cc dd ee f0 f1 f2 f3 f4 f5 a5 5a 01 02 03 " \
    "04\n"
const Model kModels[] = {
    {kModelStatus0003, "model_0003_success.scenario", "", 47500},
    {kModelStatus0400, "model_0400_success.scenario", "", 48500},
    {kModelAscii0300, "model_0300_success.scenario", "", 189500},
    {kModelRaw0100, "model_0100_success.scenario", QAVEL_KEPT_BYTES "linearization fill 3 -2\n",
     80000},
    {kModelRaw0102, "model_0102_success.scenario", QAVEL_KEPT_BYTES, 56500},
};

int matrixCases = 0;

class FailureMatrix : public ::testing::TestWithParam<Model> {
protected:
    void SetUp() override
    {
        scenario = ReadRunFile(GetParam().golden);
        ASSERT_FALSE(scenario.empty()) << GetParam().golden;
        scenario += GetParam().pages;
        golden = RunProgramOn(scenario);
        ASSERT_EQ(golden.messages, std::vector<std::string>({kSuccess}));
        steps = Classify(GetParam().id, golden.transfers);
        initial = RunInitialPages();
    }

    std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> RunInitialPages()
    {
        SimScenario parsed;
        std::string error;
        EXPECT_TRUE(ParseScenario(scenario, "golden", &parsed, &error)) << error;
        SimController* sim = SimCreate(parsed, nullptr);
        auto pages = std::make_pair(SimPage(sim, 1), SimPage(sim, 2));
        SimDestroy(sim);
        return pages;
    }

    void CheckPages(const RunRecord& run, Written written)
    {
        const bool calibration = written != Written::Nothing;
        const bool grid = written == Written::Both;
        EXPECT_EQ(run.calibrationPage, calibration ? golden.calibrationPage : initial.first)
            << "calibration page";
        EXPECT_EQ(run.gridPage, grid ? golden.gridPage : initial.second) << "grid page";
        // Whatever reached the page is what the golden run wrote, never anything earlier.
        for (const std::string& line : Matching(run.transfers, "set 05 72 ok")) {
            EXPECT_NE(std::find(golden.transfers.begin(), golden.transfers.end(), line),
                      golden.transfers.end())
                << line;
        }
    }

    std::string scenario;
    RunRecord golden;
    std::vector<Step> steps;
    std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> initial;
};

TEST_P(FailureMatrix, EveryTransferFailing)
{
    const Model& model = GetParam();
    int cases = 0;
    for (std::size_t k = 1; k <= golden.transfers.size(); ++k) {
        const Step step = steps[k - 1];
        for (Variant variant : {Variant::Once, Variant::AllRetries, Variant::Gone}) {
            SCOPED_TRACE(testing::Message()
                         << "transfer " << k << " (" << StepName(step) << ": "
                         << golden.transfers[k - 1].substr(0, 40) << ") " << VariantName(variant));
            const std::string refusal = "refuse any from=" + std::to_string(k) +
                                        (variant == Variant::Once         ? " times=1\n"
                                         : variant == Variant::AllRetries ? " times=10\n"
                                                                          : "\n");
            const RunRecord run = RunProgramOn(scenario + refusal);
            const Outcome expected = Expected(step, variant);
            ++cases;
            EXPECT_EQ(run.messages, std::vector<std::string>({expected.message}));
            CheckPages(run, expected.written);
            ExpectEndOfCalibration(model.id, expected.message, SetOperations(run.transfers));
            EXPECT_LE(run.endMs, model.boundMs);
            if (variant == Variant::Once) {
                // The same run, one attempt and its pause longer.
                std::vector<std::string> withRetry = golden.transfers;
                const Transfer t = Parse(golden.transfers[k - 1]);
                const std::string& line = golden.transfers[k - 1];
                withRetry.insert(withRetry.begin() + static_cast<std::ptrdiff_t>(k - 1),
                                 t.set ? line.substr(0, line.find(" ok ")) + " fail" +
                                             line.substr(line.find(" ok ") + 3)
                                       : line.substr(0, line.find(" ok ")) + " fail");
                EXPECT_EQ(run.transfers, withRetry);
                EXPECT_EQ(run.endMs, golden.endMs + 100);
            }
            if (testing::Test::HasFailure()) {
                return;  // one broken case says enough; the rest would repeat it
            }
        }
    }
    matrixCases += cases;
    std::printf("failure matrix, model %04x: %zu transfers x 3 = %d cases\n", model.id,
                golden.transfers.size(), cases);
}

TEST_P(FailureMatrix, AbortAtEveryWaitingStage)
{
    const Model& model = GetParam();
    struct Stage {
        std::string name;
        std::uint64_t atMs;
        std::string message;
        Written written;
    };
    std::vector<Stage> stages;
    int target = 0;
    std::uint64_t lastRed = 0;
    for (const std::string& event : golden.events) {
        const std::uint64_t at = std::stoull(event.substr(0, event.find(' ')));
        if (event.find(" green") != std::string::npos) {
            stages.push_back({"target " + std::to_string(++target) + " waiting", at + 50, kAbort,
                              Written::Nothing});
        } else if (event.find(" red") != std::string::npos) {
            lastRed = at;
        } else if (event.find("notice \"") != std::string::npos) {
            // The save's reply is not waited for, and the success stands.
            stages.push_back({"saving under the notice", at + 50, kSuccess, Written::Both});
        }
    }
    if (model.id == kModelAscii0300) {
        // Only an invalid touch turns into an abort: a start that gives up stays a start failure.
        stages.push_back({"start reply", 300, kStartFailed, Written::Nothing});
    }
    if (model.id == kModelStatus0400) {
        stages.push_back({"start pause", 500, kAbort, Written::Nothing});
    }
    if (model.id == kModelRaw0100 || model.id == kModelRaw0102) {
        stages.push_back({"storing", lastRed + 50, kSuccess, Written::Both});
    }
    int cases = 0;
    for (const Stage& stage : stages) {
        for (bool close : {false, true}) {
            SCOPED_TRACE(stage.name + (close ? ", close" : ", Esc"));
            const RunRecord run = RunProgramOn(scenario, stage.atMs, close);
            ++cases;
            EXPECT_EQ(run.messages, std::vector<std::string>({stage.message}));
            CheckPages(run, stage.written);
            ExpectEndOfCalibration(model.id, stage.message, SetOperations(run.transfers));
            // Killed instead at that moment, the guardian would have sent the same ending.
            EXPECT_EQ(GuardedAt(run.guardian, stage.atMs), EndingFrom(run.timedTransfers, stage.atMs));
            // The flag is seen at the next poll; then finish, cleanup and close follow at once.
            EXPECT_LE(run.endMs, std::max(stage.atMs + 5000, golden.endMs + 1000));
        }
    }
    matrixCases += cases;
    std::printf("abort matrix, model %04x: %zu stages x 2 = %d cases\n", model.id, stages.size(),
                cases);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, FailureMatrix, testing::ValuesIn(kModels),
                         [](const testing::TestParamInfo<Model>& info) {
                             char name[16];
                             std::snprintf(name, sizeof name, "Model%04x", info.param.id);
                             return std::string(name);
                         });

class MatrixSize : public testing::Environment {
public:
    void TearDown() override
    {
        if (matrixCases > 0) {
            std::printf("failure and abort matrix: %d cases in all\n", matrixCases);
        }
    }
};

const testing::Environment* const kMatrixSize = testing::AddGlobalTestEnvironment(new MatrixSize);

}  // namespace
