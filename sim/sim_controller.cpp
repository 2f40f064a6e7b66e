// The device side of every supported controller model, as a scenario scripts it. Each simulated
// interface keeps its own state (pages, touch script, progress, ASCII queues); one lock guards the
// whole simulator because the program's worker, its main thread and the pointer source all reach it.

#include "sim_controller.h"
#include "sim_reports.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kVendor = 0x0596;
constexpr std::size_t kPageStore = 64;          // report-5 bytes 8..71
constexpr std::size_t kAsciiInboxLimit = 1024;  // a partial command longer than this is dropped
constexpr int kAsciiPayload = 56;
// A click on a raw model gives at least this many samples, the lift included: as many as a
// scripted touch, comfortably more than the 32 a capture needs.
constexpr int kPointerTouchSamples = 40;

enum class Model { None, Status0003, Raw0100, Raw0102, Ascii0300, Status0400 };

Model ModelOf(const SimDeviceSpec& spec)
{
    if (spec.vendor != kVendor || !spec.featureValues)
        return Model::None;
    switch (spec.product) {
    case 0x0003: return Model::Status0003;
    case 0x0100: return Model::Raw0100;
    case 0x0102: return Model::Raw0102;
    case 0x0300: return Model::Ascii0300;
    case 0x0400: return Model::Status0400;
    default: return Model::None;
    }
}

bool IsRaw(Model m)
{
    return m == Model::Raw0100 || m == Model::Raw0102;
}
bool IsStatus(Model m)
{
    return m == Model::Status0003 || m == Model::Status0400;
}

int PageLength(int page)
{
    if (page == 1)
        return 26;
    if (page == 2)
        return 50;
    return 0;
}

std::int32_t Clamp12(std::int64_t v)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -2048, 2047));
}

enum class FrameKind { StartReply, Reply, Touch };

struct OutFrame {
    std::string body;
    int wait;  // polls that still see nothing before this frame is read
    FrameKind kind;
};

struct Device {
    SimDeviceSpec spec;
    Model model = Model::None;
    std::uint64_t setCount[256] = {};
    std::uint64_t getCount[256] = {};
    std::uint64_t transferCount = 0;  // both directions, every report

    // Report 3 and the pages.
    std::uint8_t mode = 0;
    int selectedPage = 0;
    std::uint8_t pages[3][kPageStore] = {};

    // Raw touches: the script (plus queued touches) and where its playback stands.
    std::vector<SimTouch> touches;
    std::size_t touchIndex = 0;
    bool touchPrepared = false;
    int restLeft = 0;
    int sampleIndex = 0;

    // Live pointer: the button as last told, and the touch a press started on a raw model,
    // which plays on after a short click until it is long enough.
    bool pointerDown = false;
    bool pointerTouch = false;
    int pointerSamples = 0;
    std::int32_t pointerX = 0;
    std::int32_t pointerY = 0;

    // Status models.
    int progress = 0;
    std::size_t statusIndex = 0;
    int pollsSinceEvent = 0;

    // ASCII model.
    std::vector<std::uint8_t> inbox;
    std::deque<OutFrame> outbox;
    bool asciiRunning = false;
    std::size_t asciiTouchIndex = 0;
};

}  // namespace

struct SimController {
    SimScenario scenario;
    std::FILE* transcript = nullptr;
    std::vector<Device> devices;
    int lastRawDevice = -1;
    mutable std::mutex lock;
};

// ---- report layouts --------------------------------------------------------------------------

void SimPackRawReport(const SimRawSample& slot1, const SimRawSample& slot2, std::uint8_t report[8])
{
    std::memset(report, 0, 8);
    report[0] = 8;
    if (slot1.present) {
        std::uint32_t x = static_cast<std::uint32_t>(Clamp12(slot1.x)) & 0xFFFu;
        std::uint32_t y = static_cast<std::uint32_t>(Clamp12(slot1.y)) & 0xFFFu;
        report[1] =
            static_cast<std::uint8_t>((slot1.touching ? 0x01u : 0u) | 0x02u | ((x & 0xFu) << 4));
        report[2] = static_cast<std::uint8_t>(x >> 4);
        report[3] = static_cast<std::uint8_t>(y & 0xFFu);
        report[4] = static_cast<std::uint8_t>(y >> 8);
    }
    if (slot2.present) {
        std::uint32_t x = static_cast<std::uint32_t>(Clamp12(slot2.x)) & 0xFFFu;
        std::uint32_t y = static_cast<std::uint32_t>(Clamp12(slot2.y)) & 0xFFFu;
        report[4] = static_cast<std::uint8_t>(report[4] | (slot2.touching ? 0x10u : 0u) | 0x20u);
        report[5] = static_cast<std::uint8_t>(x & 0xFFu);
        report[6] = static_cast<std::uint8_t>((x >> 8) | ((y & 0xFu) << 4));
        report[7] = static_cast<std::uint8_t>(y >> 4);
    }
}

std::int32_t SimDecodeCoordinate(std::uint32_t field)
{
    std::int32_t v = static_cast<std::int32_t>(field & 0xFFFu);
    return (v & 0x800) != 0 ? v - 4096 : v;
}

std::uint8_t SimPageFillByte(int page, int reportPos)
{
    return static_cast<std::uint8_t>(0x80u |
                                     (static_cast<unsigned>(reportPos * 37 + page * 11) & 0x7Fu));
}

namespace {

// ---- transcript ------------------------------------------------------------------------------

void Log(SimController* sim, std::uint64_t nowMs, bool set, std::uint8_t id, std::uint32_t length,
         bool ok, const std::uint8_t* bytes, std::uint32_t byteCount)
{
    if (sim->transcript == nullptr)
        return;
    std::string line;
    char head[96];
    std::snprintf(head, sizeof head, "%" PRIu64 " %s %02x %" PRIu32 " %s", nowMs,
                  set ? "set" : "get", static_cast<unsigned>(id), length, ok ? "ok" : "fail");
    line = head;
    for (std::uint32_t i = 0; bytes != nullptr && i < byteCount; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", static_cast<unsigned>(bytes[i]));
        line += hex;
    }
    line += '\n';
    std::fputs(line.c_str(), sim->transcript);
    std::fflush(sim->transcript);
}

bool Refused(const SimController* sim, bool set, std::uint8_t id, std::uint64_t count,
             std::uint64_t anyCount)
{
    for (const SimRefusal& r : sim->scenario.refusals) {
        if (!r.any && (r.set != set || r.reportId != id))
            continue;
        const std::uint64_t n = r.any ? anyCount : count;
        std::uint64_t from = static_cast<std::uint64_t>(r.from);
        if (n < from)
            continue;
        if (r.times < 0 || n < from + static_cast<std::uint64_t>(r.times))
            return true;
    }
    return false;
}

// ---- status models ---------------------------------------------------------------------------

void StartStatus(Device* d)
{
    d->progress = 1;
    d->pollsSinceEvent = 0;
}

void AcceptTarget(Device* d)
{
    ++d->progress;
    d->pollsSinceEvent = 0;
}

std::uint8_t PollProgress(SimController* sim, Device* d)
{
    const std::vector<int>& script = sim->scenario.statusTouches;
    if ((d->progress == 1 || d->progress == 2) && d->statusIndex < script.size()) {
        if (d->pollsSinceEvent >= script[d->statusIndex]) {
            ++d->statusIndex;
            AcceptTarget(d);
        } else {
            ++d->pollsSinceEvent;
        }
    }
    return static_cast<std::uint8_t>(d->progress);
}

// ---- raw models ------------------------------------------------------------------------------

// The scripted touch being played, or null when the script is done.
const SimTouch* CurrentTouch(Device* d)
{
    if (d->touchIndex >= d->touches.size())
        return nullptr;
    if (!d->touchPrepared) {
        d->touchPrepared = true;
        d->restLeft = d->touches[d->touchIndex].rest;
        d->sampleIndex = 0;
    }
    return &d->touches[d->touchIndex];
}

void ReadRawReport(Device* d, std::uint8_t report[8])
{
    SimRawSample slots[2];
    const SimTouch* touch = CurrentTouch(d);
    if (touch != nullptr) {
        if (d->restLeft > 0) {
            --d->restLeft;
        } else {
            for (int n = 0; n < touch->perReport; ++n) {
                int k = d->sampleIndex;
                std::int64_t offset = static_cast<std::int64_t>(k % 3 - 1) * touch->jitter;
                slots[n].present = true;
                slots[n].touching = k != touch->samples - 1;
                slots[n].x = Clamp12(touch->x + offset);
                slots[n].y = Clamp12(touch->y + offset);
                if (++d->sampleIndex == touch->samples) {
                    ++d->touchIndex;  // the lift sample ends the report
                    d->touchPrepared = false;
                    break;
                }
            }
        }
    } else if (d->pointerTouch) {
        for (SimRawSample& slot : slots) {
            if (d->pointerDown || d->pointerSamples < kPointerTouchSamples - 1) {
                slot = {true, true, d->pointerX, d->pointerY};
                ++d->pointerSamples;
            } else {
                slot = {true, false, d->pointerX, d->pointerY};  // the lift ends the report
                d->pointerTouch = false;
                break;
            }
        }
    }
    SimPackRawReport(slots[0], slots[1], report);
}

// ---- ASCII model -----------------------------------------------------------------------------

void QueueNextAsciiTouch(SimController* sim, Device* d)
{
    const std::vector<int>& script = sim->scenario.asciiTouches;
    if (!d->asciiRunning || d->asciiTouchIndex >= script.size())
        return;
    for (const OutFrame& f : d->outbox) {
        if (f.kind == FrameKind::Touch)
            return;
    }
    d->outbox.push_back({"1", script[d->asciiTouchIndex++], FrameKind::Touch});
}

void HandleAsciiCommand(SimController* sim, Device* d, const std::string& body)
{
    if (body == "CX") {
        d->asciiRunning = false;
        d->outbox.push_back(
            {sim->scenario.asciiStartReply, sim->scenario.asciiStartAfter, FrameKind::StartReply});
    } else if (body == "R") {
        // Saving ends the calibration: touch messages not yet read are dropped.
        d->asciiRunning = false;
        std::erase_if(d->outbox, [](const OutFrame& f) { return f.kind == FrameKind::Touch; });
        d->outbox.push_back({"0", 0, FrameKind::Reply});
    }
    // Other commands are not answered.
}

void ReceiveAscii(SimController* sim, Device* d, const std::uint8_t* payload, int length)
{
    d->inbox.insert(d->inbox.end(), payload, payload + length);
    for (;;) {
        // A frame runs from its last start marker to the next end marker at least two bytes on.
        auto start = std::find(d->inbox.begin(), d->inbox.end(), std::uint8_t{0x01});
        d->inbox.erase(d->inbox.begin(), start);
        if (d->inbox.empty())
            return;
        std::size_t begin = 0;
        std::size_t end = 0;
        for (std::size_t i = 1; i < d->inbox.size(); ++i) {
            if (d->inbox[i] == 0x01) {
                begin = i;
            } else if (d->inbox[i] == 0x0D && i >= begin + 2) {
                end = i;
                break;
            }
        }
        if (end == 0) {
            if (d->inbox.size() > kAsciiInboxLimit)
                d->inbox.clear();
            return;
        }
        std::string body(d->inbox.begin() + static_cast<std::ptrdiff_t>(begin) + 1,
                         d->inbox.begin() + static_cast<std::ptrdiff_t>(end));
        d->inbox.erase(d->inbox.begin(), d->inbox.begin() + static_cast<std::ptrdiff_t>(end) + 1);
        HandleAsciiCommand(sim, d, body);
    }
}

void PollAscii(SimController* sim, Device* d, std::uint8_t report[64])
{
    std::memset(report, 0, 64);
    report[0] = 9;
    if (d->outbox.empty())
        return;
    OutFrame& front = d->outbox.front();
    if (front.wait > 0) {
        --front.wait;
        return;
    }
    std::size_t n = front.body.size() + 2;
    report[7] = static_cast<std::uint8_t>(n);
    report[8] = 0x01;
    std::memcpy(report + 9, front.body.data(), front.body.size());
    report[8 + n - 1] = 0x0D;
    if (front.kind == FrameKind::StartReply && front.body == "0")
        d->asciiRunning = true;
    d->outbox.pop_front();
    QueueNextAsciiTouch(sim, d);
}

// ---- pages -----------------------------------------------------------------------------------

void FillPageReport(const Device& d, int page, std::uint8_t report[72])
{
    report[0] = 5;
    const std::uint8_t header[7] = {
        1, 0, 0, static_cast<std::uint8_t>(page), 0, static_cast<std::uint8_t>(PageLength(page)),
        0};
    std::memcpy(report + 1, header, 7);
    std::memcpy(report + 8, d.pages[page], kPageStore);
}

// ---- transfers -------------------------------------------------------------------------------

bool HandleSet(SimController* sim, Device* d, const std::uint8_t* b, std::uint32_t length)
{
    switch (b[0]) {
    case 3:
        if (length != 8 || d->model == Model::Status0003)
            return false;
        if (b[1] == 5) {
            d->mode = b[4];
            if (d->model == Model::Status0400 && d->mode == 7)
                d->progress = 0;
            return true;
        }
        if (b[1] == 4 && d->model == Model::Status0400) {
            StartStatus(d);
            return true;
        }
        if (b[1] == 2 && IsRaw(d->model)) {
            int page = b[4];
            if (PageLength(page) == 0 || b[6] != PageLength(page))
                return false;
            d->selectedPage = page;
            return true;
        }
        return false;
    case 5: {
        if (length != 72 || !IsRaw(d->model))
            return false;
        int page = b[4];
        if (PageLength(page) == 0 || b[6] != PageLength(page))
            return false;
        std::memcpy(d->pages[page], b + 8, kPageStore);
        return true;
    }
    case 9:
        if (length != 64 || d->model != Model::Ascii0300)
            return false;
        if (b[1] != 0x0A || b[2] < 1 || b[2] > kAsciiPayload)
            return false;
        ReceiveAscii(sim, d, b + 8, b[2]);
        return true;
    case 0x10:
        if (length != 8 || d->model != Model::Status0003)
            return false;
        if (b[1] == 0x11) {
            StartStatus(d);
            return true;
        }
        if (b[1] == 0x12) {
            d->progress = 0;
            return true;
        }
        return false;
    default: return false;
    }
}

bool HandleGet(SimController* sim, Device* d, std::uint8_t* b, std::uint32_t length)
{
    switch (b[0]) {
    case 5:
        if (length != 72 || !IsRaw(d->model) || d->selectedPage == 0)
            return false;
        FillPageReport(*d, d->selectedPage, b);
        // A faulty controller, as a scenario asks for it.
        b[0] = sim->scenario.pageReadId;
        if (!sim->scenario.pageReadEchoes)
            std::memset(b + 1, 0, 7);
        return true;
    case 8:
        if (length != 8 || !IsRaw(d->model))
            return false;
        ReadRawReport(d, b);
        return true;
    case 9:
        if (length != 64 || d->model != Model::Ascii0300)
            return false;
        PollAscii(sim, d, b);
        return true;
    case 0x80:
        if (length != 20 || d->model != Model::Status0003)
            return false;
        std::memset(b, 0, length);
        b[0] = 0x80;
        b[3] = PollProgress(sim, d);
        return true;
    case 6:
        if (length != 64 || d->model != Model::Status0400)
            return false;
        std::memset(b, 0, length);
        b[0] = 6;
        b[2] = PollProgress(sim, d);
        return true;
    default: return false;
    }
}

const Device* PageDevice(const SimController* sim)
{
    if (sim->lastRawDevice >= 0)
        return &sim->devices[static_cast<std::size_t>(sim->lastRawDevice)];
    for (const Device& d : sim->devices) {
        if (IsRaw(d.model))
            return &d;
    }
    return nullptr;
}

void InitialPage(const SimScenario& scenario, int page, std::uint8_t store[kPageStore])
{
    for (std::size_t i = 0; i < kPageStore; ++i) {
        store[i] = SimPageFillByte(page, static_cast<int>(i) + 8);
    }
    if (page == 1)
        std::memcpy(store, scenario.calibrationPage, 26);
    if (page == 2)
        std::memcpy(store, scenario.linearization, 50);
}

}  // namespace

SimController* SimCreate(const SimScenario& scenario, std::FILE* transcript)
{
    SimController* sim = new SimController;
    sim->scenario = scenario;
    sim->transcript = transcript;
    // A scenario built in code has not passed the parser's range checks.
    for (SimTouch& t : sim->scenario.touches) {
        t.x = Clamp12(t.x);
        t.y = Clamp12(t.y);
        t.samples = std::max(t.samples, 1);
        t.jitter = std::clamp(t.jitter, 0, 4095);
        t.perReport = std::clamp(t.perReport, 1, 2);
        t.rest = std::max(t.rest, 0);
    }
    if (sim->scenario.asciiStartReply.size() > kAsciiPayload - 2) {
        sim->scenario.asciiStartReply.resize(kAsciiPayload - 2);
    }
    sim->devices.resize(scenario.devices.size());
    for (std::size_t i = 0; i < scenario.devices.size(); ++i) {
        Device& d = sim->devices[i];
        d.spec = scenario.devices[i];
        d.model = ModelOf(d.spec);
        d.touches = scenario.touches;
        InitialPage(scenario, 1, d.pages[1]);
        InitialPage(scenario, 2, d.pages[2]);
    }
    return sim;
}

void SimDestroy(SimController* sim)
{
    delete sim;
}

int SimDeviceCount(const SimController* sim)
{
    if (sim == nullptr)
        return 0;
    std::lock_guard<std::mutex> guard(sim->lock);
    return static_cast<int>(sim->devices.size());
}

SimDeviceSpec SimDevice(const SimController* sim, int index)
{
    if (sim == nullptr)
        return {};
    std::lock_guard<std::mutex> guard(sim->lock);
    if (index < 0 || static_cast<std::size_t>(index) >= sim->devices.size())
        return {};
    return sim->devices[static_cast<std::size_t>(index)].spec;
}

namespace {

// One transfer in either direction: counted per direction and report, refused as scripted,
// answered by the model, logged. A set reads `in`; a get fills `out`.
bool Transfer(SimController* sim, int index, bool set, const std::uint8_t* in, std::uint8_t* out,
              std::uint32_t length, std::uint64_t nowMs)
{
    if (sim == nullptr)
        return false;
    const std::uint8_t* buffer = set ? in : out;
    std::lock_guard<std::mutex> guard(sim->lock);
    std::uint8_t id = (buffer != nullptr && length > 0) ? buffer[0] : 0;
    bool ok = false;
    if (index >= 0 && static_cast<std::size_t>(index) < sim->devices.size() && buffer != nullptr &&
        length > 0) {
        Device& d = sim->devices[static_cast<std::size_t>(index)];
        std::uint64_t count = set ? ++d.setCount[id] : ++d.getCount[id];
        ++d.transferCount;
        if (d.model != Model::None && !Refused(sim, set, id, count, d.transferCount)) {
            ok = set ? HandleSet(sim, &d, in, length) : HandleGet(sim, &d, out, length);
            if (ok && IsRaw(d.model))
                sim->lastRawDevice = index;
        }
    }
    Log(sim, nowMs, set, id, length, ok, set || ok ? buffer : nullptr, length);
    return ok;
}

}  // namespace

bool SimSetFeature(SimController* sim, int index, const std::uint8_t* buffer, std::uint32_t length,
                   std::uint64_t nowMs)
{
    return Transfer(sim, index, true, buffer, nullptr, length, nowMs);
}

bool SimGetFeature(SimController* sim, int index, std::uint8_t* buffer, std::uint32_t length,
                   std::uint64_t nowMs)
{
    return Transfer(sim, index, false, nullptr, buffer, length, nowMs);
}

void SimLogRefusedTransfer(SimController* sim, bool set, const std::uint8_t* buffer,
                           std::uint32_t length, std::uint64_t nowMs)
{
    if (sim == nullptr)
        return;
    std::lock_guard<std::mutex> guard(sim->lock);
    const std::uint8_t id = (buffer != nullptr && length > 0) ? buffer[0] : 0;
    Log(sim, nowMs, set, id, length, false, set ? buffer : nullptr, length);
}

void SimQueueTouch(SimController* sim, std::int32_t x, std::int32_t y)
{
    if (sim == nullptr)
        return;
    std::lock_guard<std::mutex> guard(sim->lock);
    SimTouch touch;
    touch.x = Clamp12(x);
    touch.y = Clamp12(y);
    for (Device& d : sim->devices)
        d.touches.push_back(touch);
}

void SimPointer(SimController* sim, bool buttonDown, std::int32_t x, std::int32_t y)
{
    if (sim == nullptr)
        return;
    std::lock_guard<std::mutex> guard(sim->lock);
    // Without "touch-from pointer" a stray click must not disturb a scripted run.
    if (!sim->scenario.touchFromPointer)
        return;
    x = Clamp12(x);
    y = Clamp12(y);
    for (Device& d : sim->devices) {
        const bool pressed = !d.pointerDown && buttonDown;
        const bool released = d.pointerDown && !buttonDown;
        d.pointerDown = buttonDown;
        // Once the button is up the touch stays where it was let go, however the mouse moves on.
        if (buttonDown || released) {
            d.pointerX = x;
            d.pointerY = y;
        }
        if (pressed && IsRaw(d.model) && !d.pointerTouch) {
            d.pointerTouch = true;
            d.pointerSamples = 0;
        }
        if (!released)
            continue;
        if (IsStatus(d.model)) {
            if (d.progress == 1 || d.progress == 2)
                AcceptTarget(&d);
        } else if (d.model == Model::Ascii0300 && d.asciiRunning) {
            d.outbox.push_back({"1", 0, FrameKind::Touch});
        }
    }
}

void SimScreenToController(int screenX, int screenY, int screenWidth, int screenHeight,
                           std::int32_t* x, std::int32_t* y)
{
    // Inverse of the target geometry: x = W * fx, y = H * (1 - fy), fractions mapped onto +-1900.
    std::int64_t cx = 0;
    std::int64_t cy = 0;
    if (screenWidth > 0)
        cx = -1900 + static_cast<std::int64_t>(screenX) * 3800 / screenWidth;
    if (screenHeight > 0) {
        cy = -1900 + (static_cast<std::int64_t>(screenHeight) - screenY) * 3800 / screenHeight;
    }
    if (x != nullptr)
        *x = Clamp12(cx);
    if (y != nullptr)
        *y = Clamp12(cy);
}

std::vector<std::uint8_t> SimPage(const SimController* sim, int page)
{
    int length = PageLength(page);
    if (sim == nullptr || length == 0)
        return {};
    std::lock_guard<std::mutex> guard(sim->lock);
    const Device* d = PageDevice(sim);
    std::uint8_t store[kPageStore];
    if (d != nullptr) {
        std::memcpy(store, d->pages[page], kPageStore);
    } else {
        InitialPage(sim->scenario, page, store);
    }
    return std::vector<std::uint8_t>(store, store + length);
}

std::vector<std::uint8_t> SimPageReport(const SimController* sim, int page)
{
    if (sim == nullptr || PageLength(page) == 0)
        return {};
    std::lock_guard<std::mutex> guard(sim->lock);
    Device scratch;
    const Device* d = PageDevice(sim);
    if (d == nullptr) {
        InitialPage(sim->scenario, page, scratch.pages[page]);
        d = &scratch;
    }
    std::vector<std::uint8_t> report(72);
    FillPageReport(*d, page, report.data());
    return report;
}
