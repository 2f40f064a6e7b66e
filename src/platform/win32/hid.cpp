// HID access through SetupAPI device-interface enumeration and the HID class driver.

#include "platform/hid.h"

#include <windows.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cstdlib>
#include <new>

struct HidDevice {
    HANDLE handle;
};

namespace {

HANDLE ToHandle(HidHandle device)
{
    return device->handle;
}

// The interface's path, or "" when the detail query fails (the walk then skips it).
std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData)
{
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, interfaceData, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return {};
    }
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, required));
    if (detail == nullptr) {
        return {};
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    std::string path;
    if (SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, required, nullptr, nullptr)) {
        path = detail->DevicePath;
    }
    std::free(detail);
    return path;
}

}  // namespace

std::vector<std::string> HidListInterfaces()
{
    std::vector<std::string> paths;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return paths;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData;
        interfaceData.cbSize = sizeof(interfaceData);
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData)) {
            break;
        }
        // An interface whose path cannot be read keeps its place as an empty path, which no
        // open succeeds on, so the enumeration order of the others is unchanged.
        paths.push_back(InterfacePath(set, &interfaceData));
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

HidHandle HidOpen(const std::string& path)
{
    if (path.empty()) {
        return nullptr;
    }
    HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    auto* device = new (std::nothrow) HidDevice{handle};
    if (device == nullptr) {
        CloseHandle(handle);
    }
    return device;
}

bool HidGetIds(HidHandle device, std::uint16_t* vendor, std::uint16_t* product)
{
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    if (!HidD_GetAttributes(ToHandle(device), &attributes)) {
        return false;
    }
    *vendor = attributes.VendorID;
    *product = attributes.ProductID;
    return true;
}

bool HidDeclaresFeatureValues(HidHandle device)
{
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(ToHandle(device), &preparsed)) {
        return false;
    }
    HIDP_CAPS caps{};
    const NTSTATUS status = HidP_GetCaps(preparsed, &caps);
    HidD_FreePreparsedData(preparsed);
    return status == HIDP_STATUS_SUCCESS && caps.NumberFeatureValueCaps != 0;
}

bool HidSetFeature(HidHandle device, const std::uint8_t* buffer, std::uint32_t length)
{
    // The API takes a non-const buffer but does not write to it.
    return HidD_SetFeature(ToHandle(device), const_cast<std::uint8_t*>(buffer), length) != FALSE;
}

bool HidGetFeature(HidHandle device, std::uint8_t* buffer, std::uint32_t length)
{
    return HidD_GetFeature(ToHandle(device), buffer, length) != FALSE;
}

void HidClose(HidHandle device)
{
    CloseHandle(ToHandle(device));
    delete device;
}
