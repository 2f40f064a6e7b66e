// The HID seam answered in-process by the installed SimController, stamped with virtual time.

#include "inproc/inproc_hid.h"

#include "inproc/virtual_clock.h"
#include "platform/hid.h"
#include "sim_controller.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

struct HidDevice {
    int index;
    unsigned generation;  // the installation the handle was opened under
};

namespace {

std::mutex installLock;
SimController* installed = nullptr;
unsigned generation = 0;
std::atomic<int> openCount{0};

// The controller behind a handle, or null when another one has been installed since it opened.
SimController* ControllerOf(HidHandle device)
{
    if (!HidIsOpen(device))
        return nullptr;
    std::lock_guard<std::mutex> guard(installLock);
    if (device->generation != generation)
        return nullptr;
    return installed;
}

bool ParsePath(const std::string& path, int* index)
{
    const std::string prefix = "sim:";
    if (path.compare(0, prefix.size(), prefix) != 0 || path.size() == prefix.size() ||
        path.size() > prefix.size() + 6) {
        return false;
    }
    int v = 0;
    for (std::size_t i = prefix.size(); i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9')
            return false;
        v = v * 10 + (path[i] - '0');
    }
    // One spelling per device: "sim:01" is not "sim:1".
    if (path != SimInprocPath(v))
        return false;
    *index = v;
    return true;
}

}  // namespace

void SimInprocInstall(SimController* sim)
{
    std::lock_guard<std::mutex> guard(installLock);
    installed = sim;
    ++generation;
}

std::string SimInprocPath(int index)
{
    return "sim:" + std::to_string(index);
}

int SimInprocOpenCount()
{
    return openCount.load();
}

std::vector<std::string> HidListInterfaces()
{
    std::lock_guard<std::mutex> guard(installLock);
    std::vector<std::string> paths;
    int count = SimDeviceCount(installed);
    for (int i = 0; i < count; ++i)
        paths.push_back(SimInprocPath(i));
    return paths;
}

HidHandle HidOpen(const std::string& path)
{
    int index = 0;
    if (!ParsePath(path, &index))
        return nullptr;
    std::lock_guard<std::mutex> guard(installLock);
    if (index >= SimDeviceCount(installed) || SimDevice(installed, index).denied)
        return nullptr;
    ++openCount;
    return new HidDevice{index, generation};
}

bool HidExplainRefusedOpen(const std::string& path, std::uint16_t* vendor, std::uint16_t* product,
                           std::string* explanation)
{
    int index = 0;
    if (!ParsePath(path, &index) || vendor == nullptr || product == nullptr ||
        explanation == nullptr)
        return false;
    std::lock_guard<std::mutex> guard(installLock);
    if (index >= SimDeviceCount(installed) || !SimDevice(installed, index).denied)
        return false;
    const SimDeviceSpec spec = SimDevice(installed, index);
    *vendor = spec.vendor;
    *product = spec.product;
    *explanation = path + ": permission denied.";
    return true;
}

bool HidGetIds(HidHandle device, std::uint16_t* vendor, std::uint16_t* product)
{
    SimController* sim = ControllerOf(device);
    if (sim == nullptr || vendor == nullptr || product == nullptr)
        return false;
    SimDeviceSpec spec = SimDevice(sim, device->index);
    *vendor = spec.vendor;
    *product = spec.product;
    return true;
}

bool HidDeclaresFeatureValues(HidHandle device)
{
    SimController* sim = ControllerOf(device);
    return sim != nullptr && SimDevice(sim, device->index).featureValues;
}

bool HidSetFeature(HidHandle device, const std::uint8_t* buffer, std::uint32_t length)
{
    SimController* sim = ControllerOf(device);
    if (sim == nullptr)
        return false;
    return SimSetFeature(sim, device->index, buffer, length, VirtualNowMs());
}

bool HidGetFeature(HidHandle device, std::uint8_t* buffer, std::uint32_t length)
{
    SimController* sim = ControllerOf(device);
    if (sim == nullptr)
        return false;
    return SimGetFeature(sim, device->index, buffer, length, VirtualNowMs());
}

void HidClose(HidHandle device)
{
    if (!HidIsOpen(device))
        return;
    --openCount;
    delete device;
}
