// The simulated controllers behind the test minidriver. Loaded into the driver host process by
// the minidriver's import, so the C++ runtime and the simulator start as in any DLL.

#include "sim_device.h"

#include "report_layout.h"
#include "sim_controller.h"
#include "synthetic_descriptor.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t kSuccess = 0;
constexpr std::int32_t kUnsuccessful = static_cast<std::int32_t>(0xC0000001);
constexpr std::int32_t kInvalidParameter = static_cast<std::int32_t>(0xC000000D);
constexpr std::int32_t kInvalidUserBuffer = static_cast<std::int32_t>(0xC00000E8);
constexpr std::int32_t kNoSuchDevice = static_cast<std::int32_t>(0xC000000E);

struct Device {
    std::vector<std::uint8_t> descriptor;
    ReportLayout layout;
};

struct Simulator {
    std::mutex lock;
    std::wstring scenarioPath;
    SimController* sim = nullptr;
    std::FILE* transcript = nullptr;
    ULONGLONG startMs = 0;
    std::vector<Device> devices;
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

// Caller holds the lock.
bool StartLocked(const std::wstring& scenarioPath, const std::wstring& transcriptPath)
{
    if (state.sim != nullptr) {
        return scenarioPath == state.scenarioPath;
    }
    SimScenario scenario;
    std::string error;
    if (!LoadScenarioFile(Narrow(scenarioPath), &scenario, &error)) {
        OutputDebugStringA(("qavel simulated device: " + error + "\n").c_str());
        return false;
    }
    if (!transcriptPath.empty()) {
        state.transcript = _wfopen(transcriptPath.c_str(), L"a");
        if (state.transcript == nullptr) {
            return false;
        }
    }
    for (const SimDeviceSpec& spec : scenario.devices) {
        Device device;
        device.descriptor = SyntheticDeviceDescriptor(spec);
        if (!ParseReportLayout(device.descriptor, &device.layout)) {
            return false;
        }
        state.devices.push_back(std::move(device));
    }
    state.sim = SimCreate(scenario, state.transcript);
    state.scenarioPath = scenarioPath;
    state.startMs = GetTickCount64();
    return true;
}

std::uint64_t NowMs()
{
    return GetTickCount64() - state.startMs;
}

// The device's feature report with byte 0 of buffer as its id, or null (caller holds the lock).
const ReportInfo* FeatureReport(std::uint32_t index, const std::uint8_t* buffer,
                                std::uint32_t length)
{
    if (state.sim == nullptr || index >= state.devices.size() || buffer == nullptr || length == 0) {
        return nullptr;
    }
    return FindFeatureReport(state.devices[index].layout, buffer[0]);
}

}  // namespace

extern "C" {

__declspec(dllexport) std::int32_t
    QavelSimDeviceStart(const std::uint16_t* scenario, const std::uint16_t* transcript,
                        std::uint32_t index)
{
    if (scenario == nullptr) {
        return kInvalidParameter;
    }
    const std::wstring scenarioPath(reinterpret_cast<const wchar_t*>(scenario));
    const std::wstring transcriptPath(
        transcript != nullptr ? reinterpret_cast<const wchar_t*>(transcript) : L"");
    std::lock_guard<std::mutex> guard(state.lock);
    if (!StartLocked(scenarioPath, transcriptPath)) {
        return kUnsuccessful;
    }
    return index < state.devices.size() ? kSuccess : kNoSuchDevice;
}

__declspec(dllexport) std::uint32_t
    QavelSimDeviceDescriptor(std::uint32_t index, std::uint8_t* buffer, std::uint32_t size)
{
    std::lock_guard<std::mutex> guard(state.lock);
    if (index >= state.devices.size()) {
        return 0;
    }
    const std::vector<std::uint8_t>& descriptor = state.devices[index].descriptor;
    if (buffer != nullptr && size >= descriptor.size()) {
        std::copy(descriptor.begin(), descriptor.end(), buffer);
    }
    return static_cast<std::uint32_t>(descriptor.size());
}

__declspec(dllexport) std::int32_t
    QavelSimDeviceIds(std::uint32_t index, std::uint16_t* vendor, std::uint16_t* product)
{
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.sim == nullptr || index >= state.devices.size()) {
        return kNoSuchDevice;
    }
    const SimDeviceSpec spec = SimDevice(state.sim, static_cast<int>(index));
    *vendor = spec.vendor;
    *product = spec.product;
    return kSuccess;
}

__declspec(dllexport) std::int32_t
    QavelSimDeviceGetFeature(std::uint32_t index, std::uint8_t* buffer, std::uint32_t length,
                             std::uint32_t* done)
{
    std::lock_guard<std::mutex> guard(state.lock);
    *done = 0;
    if (buffer == nullptr || length == 0) {
        return kInvalidUserBuffer;
    }
    const ReportInfo* report = FeatureReport(index, buffer, length);
    // The class driver passes the caller's whole length down; Windows wants the collection's.
    if (report == nullptr ||
        length < CollectionFeatureLength(state.devices[index].layout, report->collection)) {
        return kInvalidParameter;
    }
    if (!SimGetFeature(state.sim, static_cast<int>(index), buffer, report->length, NowMs())) {
        return kUnsuccessful;
    }
    std::fill(buffer + report->length, buffer + length, std::uint8_t{0});
    *done = report->length;
    return kSuccess;
}

__declspec(dllexport) std::int32_t
    QavelSimDeviceSetFeature(std::uint32_t index, const std::uint8_t* buffer, std::uint32_t length,
                             std::uint32_t* done)
{
    std::lock_guard<std::mutex> guard(state.lock);
    *done = 0;
    if (buffer == nullptr || length == 0) {
        return kInvalidUserBuffer;
    }
    const ReportInfo* report = FeatureReport(index, buffer, length);
    if (report == nullptr || length < report->length) {
        return kInvalidParameter;
    }
    if (!SimSetFeature(state.sim, static_cast<int>(index), buffer, report->length, NowMs())) {
        return kUnsuccessful;
    }
    *done = report->length;
    return kSuccess;
}

}  // extern "C"
