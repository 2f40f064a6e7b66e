// The simulated controllers behind the test minidriver. Loaded into the driver host process by
// the minidriver's import, so the C++ runtime and the simulator start as in any DLL.

#include "sim_device.h"

#include "hid_class_rules.h"
#include "sim_controller.h"
#include "synthetic_descriptor.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t kSuccess = 0;
constexpr std::int32_t kUnsuccessful = static_cast<std::int32_t>(0xC0000001);
constexpr std::int32_t kInvalidParameter = static_cast<std::int32_t>(0xC000000D);
constexpr std::int32_t kInvalidUserBuffer = static_cast<std::int32_t>(0xC00000E8);

// One device the class driver sees: a scenario device, or one collection of it.
struct Slot {
    bool inUse = false;
    int device = 0;
    std::vector<std::uint8_t> descriptor;
    std::vector<HidCollectionCaps> collections;  // of that descriptor
};

// A feature report of a slot and the top-level collection that declares it.
struct FeatureReport {
    const HidCollectionCaps* collection = nullptr;
    std::uint32_t length = 0;  // the id byte included
};

struct Simulator {
    std::mutex lock;
    std::wstring scenarioPath;
    SimScenario scenario;
    SimController* sim = nullptr;
    std::FILE* transcript = nullptr;
    ULONGLONG startMs = 0;
    std::vector<Slot> slots;
    int started = 0;
};

Simulator state;

std::string Narrow(const std::wstring& wide)
{
    if (wide.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return {};
    }
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow.data(), n, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(n - 1));
    return narrow;
}

// Back to no simulator, so that the next installation starts from its own scenario.
void EndLocked()
{
    if (state.sim != nullptr) {
        SimDestroy(state.sim);
    }
    if (state.transcript != nullptr) {
        std::fclose(state.transcript);
    }
    state.sim = nullptr;
    state.transcript = nullptr;
    state.slots.clear();
    state.scenario = SimScenario{};
    state.scenarioPath.clear();
}

// Caller holds the lock.
bool StartSimulatorLocked(const std::wstring& scenarioPath, const std::wstring& transcriptPath)
{
    if (state.sim != nullptr) {
        return scenarioPath == state.scenarioPath;
    }
    std::string error;
    if (!LoadScenarioFile(Narrow(scenarioPath), &state.scenario, &error)) {
        OutputDebugStringA(("qavel simulated device: " + error + "\n").c_str());
        return false;
    }
    if (!transcriptPath.empty()) {
        state.transcript = _wfopen(transcriptPath.c_str(), L"ab");
        if (state.transcript == nullptr) {
            return false;
        }
    }
    state.sim = SimCreate(state.scenario, state.transcript);
    state.scenarioPath = scenarioPath;
    state.startMs = GetTickCount64();
    return true;
}

bool MakeSlot(std::uint32_t index, std::int32_t collection, Slot* slot)
{
    if (index >= state.scenario.devices.size()) {
        return false;
    }
    slot->inUse = true;
    slot->device = static_cast<int>(index);
    slot->descriptor = SyntheticReportDescriptor(state.scenario.devices[index]);
    if (!ParseCollectionCaps(slot->descriptor.data(), slot->descriptor.size(),
                             &slot->collections)) {
        return false;
    }
    if (collection >= 0) {
        slot->descriptor = CollectionDescriptor(slot->descriptor, slot->collections, collection);
        return !slot->descriptor.empty() &&
               ParseCollectionCaps(slot->descriptor.data(), slot->descriptor.size(),
                                   &slot->collections);
    }
    return true;
}

std::uint64_t NowMs()
{
    return GetTickCount64() - state.startMs;
}

Slot* SlotOf(std::uint32_t slot)
{
    if (state.sim == nullptr || slot >= state.slots.size() || !state.slots[slot].inUse) {
        return nullptr;
    }
    return &state.slots[slot];
}

// The slot's feature report that byte 0 of the buffer names, with the status for the class
// driver when there is none (caller holds the lock).
std::int32_t FindTransfer(std::uint32_t slot, const std::uint8_t* buffer, std::uint32_t length,
                          const Slot** s, FeatureReport* report)
{
    if (buffer == nullptr || length == 0) {
        return kInvalidUserBuffer;
    }
    *s = SlotOf(slot);
    if (*s == nullptr) {
        return kInvalidParameter;
    }
    for (const HidCollectionCaps& collection : (*s)->collections) {
        for (const HidFeatureReport& declared : collection.featureReports) {
            if (declared.id == buffer[0]) {
                *report = {&collection, declared.length};
                return kSuccess;
            }
        }
    }
    return kInvalidParameter;
}

}  // namespace

extern "C" {

__declspec(dllexport) std::int32_t
    QavelSimDeviceStart(const std::uint16_t* scenario, const std::uint16_t* transcript,
                        std::uint32_t index, std::int32_t collection, std::uint32_t* slot)
{
    if (scenario == nullptr || slot == nullptr) {
        return kInvalidParameter;
    }
    const std::wstring scenarioPath(reinterpret_cast<const wchar_t*>(scenario));
    const std::wstring transcriptPath(
        transcript != nullptr ? reinterpret_cast<const wchar_t*>(transcript) : L"");
    std::lock_guard<std::mutex> guard(state.lock);
    Slot made;
    if (!StartSimulatorLocked(scenarioPath, transcriptPath) ||
        !MakeSlot(index, collection, &made)) {
        if (state.started == 0) {
            EndLocked();
        }
        return kUnsuccessful;
    }
    *slot = static_cast<std::uint32_t>(state.slots.size());
    state.slots.push_back(std::move(made));
    ++state.started;
    return kSuccess;
}

__declspec(dllexport) void QavelSimDeviceStop(std::uint32_t slot)
{
    std::lock_guard<std::mutex> guard(state.lock);
    Slot* s = SlotOf(slot);
    if (s == nullptr) {
        return;
    }
    s->inUse = false;
    if (--state.started == 0) {
        EndLocked();
    }
}

__declspec(dllexport) std::uint32_t
    QavelSimDeviceDescriptor(std::uint32_t slot, std::uint8_t* buffer, std::uint32_t size)
{
    std::lock_guard<std::mutex> guard(state.lock);
    const Slot* s = SlotOf(slot);
    if (s == nullptr) {
        return 0;
    }
    if (buffer != nullptr && size >= s->descriptor.size()) {
        std::copy(s->descriptor.begin(), s->descriptor.end(), buffer);
    }
    return static_cast<std::uint32_t>(s->descriptor.size());
}

__declspec(dllexport) std::int32_t
    QavelSimDeviceIds(std::uint32_t slot, std::uint16_t* vendor, std::uint16_t* product)
{
    std::lock_guard<std::mutex> guard(state.lock);
    const Slot* s = SlotOf(slot);
    if (s == nullptr) {
        return kUnsuccessful;
    }
    const SimDeviceSpec spec = SimDevice(state.sim, s->device);
    *vendor = spec.vendor;
    *product = spec.product;
    return kSuccess;
}

__declspec(dllexport) std::int32_t
    QavelSimDeviceGetFeature(std::uint32_t slot, std::uint8_t* buffer, std::uint32_t length,
                             std::uint32_t* done)
{
    std::lock_guard<std::mutex> guard(state.lock);
    *done = 0;
    const Slot* s = nullptr;
    FeatureReport report;
    const std::int32_t found = FindTransfer(slot, buffer, length, &s, &report);
    if (found != kSuccess) {
        return found;
    }
    // The class driver passes the caller's whole length down; Windows wants the collection's.
    if (length < report.collection->featureReportByteLength) {
        return kInvalidParameter;
    }
    if (!SimGetFeature(state.sim, s->device, buffer, report.length, NowMs())) {
        return kUnsuccessful;
    }
    std::fill(buffer + report.length, buffer + length, std::uint8_t{0});
    *done = report.length;
    return kSuccess;
}

__declspec(dllexport) std::int32_t
    QavelSimDeviceSetFeature(std::uint32_t slot, const std::uint8_t* buffer, std::uint32_t length,
                             std::uint32_t* done)
{
    std::lock_guard<std::mutex> guard(state.lock);
    *done = 0;
    const Slot* s = nullptr;
    FeatureReport report;
    const std::int32_t found = FindTransfer(slot, buffer, length, &s, &report);
    if (found != kSuccess) {
        return found;
    }
    // The class driver has already cut the set to the report's own length.
    if (length < report.length) {
        return kInvalidParameter;
    }
    if (!SimSetFeature(state.sim, s->device, buffer, report.length, NowMs())) {
        return kUnsuccessful;
    }
    *done = report.length;
    return kSuccess;
}

}  // extern "C"
