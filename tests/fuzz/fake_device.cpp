#include "fake_device.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/shared_state.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/guardian.h"
#include "platform/hid.h"

struct HidDevice {
    int unused;
};

namespace {

// No run of the design comes near this; past it the program is stuck in a loop.
constexpr std::uint64_t kHardCeilingMs = 1000 * 1000;
constexpr std::uint32_t kLongestReport = 72;

struct FakeWorld {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    std::uint16_t product = 0;
    std::uint64_t nowMs = 0;
    std::uint32_t offsetMs = 0;
    std::size_t abortAt = 0;
    bool abortRaised = false;
    int repeatLeft = 0;
    int repeatKind = 0;
    std::uint8_t lastAnswer[256][kLongestReport] = {};
    bool answered[256] = {};
    std::vector<FakeTransfer> log;
    FakeDisplay display;
};

FakeWorld world;
HidDevice theDevice{0};
CalibrationWindow* const kWindow = reinterpret_cast<CalibrationWindow*>(std::uintptr_t{0x2000});

int NextKind()
{
    if (world.repeatLeft > 0) {
        --world.repeatLeft;
        // A repeated success answers as before.
        return world.repeatKind == 0 ? 0 : 1;
    }
    if (world.pos >= world.size) {
        return 0;
    }
    const std::uint8_t c = world.data[world.pos++];
    world.repeatKind = c & 3;
    world.repeatLeft = c >> 2;
    return world.repeatKind;
}

void Answer(int kind, std::uint8_t* buffer, std::uint32_t length)
{
    const std::uint8_t id = buffer[0];
    std::uint8_t* cache = world.lastAnswer[id];
    if (!world.answered[id]) {
        std::memset(cache, 0, kLongestReport);
        cache[0] = id;
        world.answered[id] = true;
    }
    if (kind >= 2) {
        const std::uint32_t from = kind == 3 ? 0 : 1;
        for (std::uint32_t i = from; i < length && i < kLongestReport; ++i) {
            cache[i] = world.pos < world.size ? world.data[world.pos++] : 0;
        }
        if (kind == 2) {
            cache[0] = id;
        }
    }
    for (std::uint32_t i = 0; i < length; ++i) {
        buffer[i] = i < kLongestReport ? cache[i] : 0;
    }
}

bool Attempt(bool set, std::uint8_t* getBuffer, const std::uint8_t* setBuffer, std::uint32_t length)
{
    FuzzRequire(world.nowMs < kHardCeilingMs, "the run never ends");
    if (world.abortAt != 0 && world.log.size() + 1 == world.abortAt) {
        abortRequested.store(1);
        world.abortRaised = true;
    }
    const std::uint8_t* bytes = set ? setBuffer : getBuffer;
    FuzzRequire(bytes != nullptr && length > 0, "a transfer without a buffer");
    FakeTransfer t{set, bytes[0], length, false, world.nowMs, {}};
    const int kind = NextKind();
    t.ok = kind != 0;
    if (set) {
        t.data.assign(setBuffer, setBuffer + length);
    } else if (t.ok) {
        Answer(kind, getBuffer, length);
        t.data.assign(getBuffer, getBuffer + length);
    }
    world.log.push_back(std::move(t));
    return world.log.back().ok;
}

}  // namespace

void FakeReset(const std::uint8_t* data, std::size_t size, std::uint16_t product,
               std::uint32_t offsetMs, std::size_t abortAt)
{
    world.data = data;
    world.size = size;
    world.pos = 0;
    world.product = product;
    world.nowMs = 0;
    world.offsetMs = offsetMs;
    world.abortAt = abortAt;
    world.abortRaised = false;
    world.repeatLeft = 0;
    world.repeatKind = 0;
    std::memset(world.answered, 0, sizeof world.answered);
    world.log.clear();
    world.display = FakeDisplay{};
    abortRequested.store(0);
}

const std::vector<FakeTransfer>& FakeLog()
{
    return world.log;
}

const FakeDisplay& FakeDisplayState()
{
    return world.display;
}

std::uint64_t FakeNowMs()
{
    return world.nowMs;
}

bool FakeAbortRaised()
{
    return world.abortRaised;
}

std::vector<LogicalTransfer> GroupRetries(const std::vector<FakeTransfer>& log)
{
    std::vector<LogicalTransfer> groups;
    for (std::size_t i = 0; i < log.size();) {
        LogicalTransfer g{i, 1, log[i].ok};
        while (!log[g.first + g.attempts - 1].ok && g.attempts < 10 &&
               i + g.attempts < log.size()) {
            const FakeTransfer& a = log[g.first];
            const FakeTransfer& b = log[i + g.attempts];
            const bool same = a.set == b.set && a.id == b.id && a.length == b.length &&
                              (!a.set || a.data == b.data);
            if (!same) {
                break;
            }
            g.ok = b.ok;
            ++g.attempts;
        }
        groups.push_back(g);
        i += g.attempts;
    }
    return groups;
}

void RequireRetryPolicy(const std::vector<FakeTransfer>& log)
{
    std::uint64_t previous = 0;
    for (const FakeTransfer& t : log) {
        FuzzRequire(t.atMs >= previous + 100, "a transfer attempt without its 100 ms pause");
        previous = t.atMs;
    }
    const std::vector<LogicalTransfer> groups = GroupRetries(log);
    for (const LogicalTransfer& g : groups) {
        // A failure short of ten attempts must be tried again, the same way.
        FuzzRequire(g.ok || g.attempts == 10,
                    "a failed transfer given up before its tenth attempt");
    }
}

// ---- HID seam: one supported interface ------------------------------------------------------

std::vector<std::string> HidListInterfaces()
{
    return {"fake:0"};
}

HidHandle HidOpen(const std::string& path)
{
    return path == "fake:0" ? &theDevice : nullptr;
}

bool HidExplainRefusedOpen(const std::string&, std::uint16_t*, std::uint16_t*, std::string*)
{
    return false;
}

bool HidGetIds(HidHandle device, std::uint16_t* vendor, std::uint16_t* product)
{
    if (device != &theDevice) {
        return false;
    }
    *vendor = 0x0596;
    *product = world.product;
    return true;
}

bool HidDeclaresFeatureValues(HidHandle device)
{
    return device == &theDevice;
}

bool HidSetFeature(HidHandle device, const std::uint8_t* buffer, std::uint32_t length)
{
    FuzzRequire(device == &theDevice, "a transfer on a device that is not open");
    return Attempt(true, nullptr, buffer, length);
}

bool HidGetFeature(HidHandle device, std::uint8_t* buffer, std::uint32_t length)
{
    FuzzRequire(device == &theDevice, "a transfer on a device that is not open");
    return Attempt(false, buffer, nullptr, length);
}

void HidClose(HidHandle device)
{
    FuzzRequire(device == &theDevice, "closing a device that is not open");
}

// ---- guardian seam: nothing watches a fuzzed run ------------------------------------------------

bool GuardianStart(HidHandle)
{
    return true;
}

void GuardianArm(const GuardianPlan&) {}

void GuardianRelease() {}

// ---- time seam ------------------------------------------------------------------------------

void PauseMs(std::uint32_t ms)
{
    world.nowMs += ms;
}

void YieldThread() {}

std::int64_t CalendarSeconds()
{
    return static_cast<std::int64_t>((world.nowMs + world.offsetMs) / 1000);
}

std::int64_t MonotonicUs()
{
    return static_cast<std::int64_t>(world.nowMs) * 1000;
}

void PauseUntilUs(std::int64_t deadlineUs)
{
    world.nowMs =
        std::max<std::uint64_t>(world.nowMs, static_cast<std::uint64_t>((deadlineUs + 999) / 1000));
}

// ---- display seam ---------------------------------------------------------------------------

WindowHandle CreateCalibrationWindow()
{
    return kWindow;
}

void ClearTarget(WindowHandle) {}

std::uint32_t PumpUntilQuit()
{
    return static_cast<std::uint32_t>(world.display.result);
}

bool WaitForCalibrationDoneMessage(std::uint32_t)
{
    return world.display.doneMessages > 0;
}

void DestroyCalibrationWindow(WindowHandle) {}

bool LoadStringResource(std::uint32_t, char* buffer, int bufferSize)
{
    if (bufferSize > 0) {
        buffer[0] = 0;
    }
    return true;
}

bool ShowMessageBox(const char*, const char*, MessageIcon)
{
    return true;
}

void WriteDiagnostic(const std::string&) {}

bool PostShowTargetMessage(WindowHandle, std::uint32_t, std::uint32_t)
{
    ++world.display.targetsShown;
    return true;
}

bool PostCalibrationDoneMessage(WindowHandle, std::int32_t result)
{
    ++world.display.doneMessages;
    world.display.result = result;
    return true;
}

void SystemBeep() {}

void ShowNotice(const char*, const char*)
{
    if (world.display.noticeDepth != 0) {
        world.display.noticeNested = true;
    }
    ++world.display.noticeDepth;
    ++world.display.noticesShown;
}

void CloseNotice()
{
    if (world.display.noticeDepth > 0) {
        --world.display.noticeDepth;
    }
}
