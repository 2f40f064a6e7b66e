// HID access through SetupAPI device-interface enumeration and the HID class driver.

#include "platform/hid.h"

#include <windows.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "platform/transfer_diagnostic.h"
#include "platform/win32/hid_handle.h"

struct HidDevice {
    HANDLE handle;
    // The class driver takes feature transfers only at this length (the collection's longest
    // feature report plus the id byte); 0 when the caps could not be read.
    std::uint16_t featureReportByteLength;
};

namespace {

// The SetupAPI records keep the SDK's own sizes, which are what Windows checks in the size fields:
// 28 and 5 in a 32-bit process (the detail record's fixed part is its size field and the path's
// first character), 32 and 8 in a 64-bit one.
#if defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
#endif
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

HANDLE ToHandle(HidHandle device)
{
    return device->handle;
}

// The top-level collection's caps, read from this handle: each collection has its own.
bool ReadCaps(HANDLE handle, HIDP_CAPS* caps)
{
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(handle, &preparsed)) {
        return false;
    }
    const NTSTATUS status = HidP_GetCaps(preparsed, caps);
    HidD_FreePreparsedData(preparsed);
    return status == HIDP_STATUS_SUCCESS;
}

// Never below the collection's length; without caps, the caller's own length is all there is.
std::uint32_t TransferLength(HidHandle device, std::uint32_t length)
{
    return std::max<std::uint32_t>(length, device->featureReportByteLength);
}

void ReportFailure(bool set, std::uint8_t reportId, std::uint32_t length, std::uint32_t passed,
                   DWORD error)
{
    FailedTransfer failure;
    failure.set = set;
    failure.reportId = reportId;
    failure.length = length;
    failure.passed = passed;
    failure.error = error;
    char meaning[256];
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, meaning, sizeof meaning, nullptr) != 0) {
        failure.meaning = meaning;
    }
    OutputDebugStringA(DescribeFailedTransfer(failure).c_str());
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
    return HidAdopt(handle);
}

HidHandle HidAdopt(HANDLE handle)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    // A handle without caps is not refused here: discovery asks for the feature values and skips
    // it, and should it still be used, the caller's lengths are the best left to try.
    HIDP_CAPS caps{};
    const std::uint16_t featureLength = ReadCaps(handle, &caps) ? caps.FeatureReportByteLength : 0;
    auto* device = new (std::nothrow) HidDevice{handle, featureLength};
    if (device == nullptr) {
        CloseHandle(handle);
    }
    return device;
}

bool HidExplainRefusedOpen(const std::string&, std::uint16_t*, std::uint16_t*, std::string*)
{
    // Opened without data access, an interface is not refused for want of rights: nothing to say.
    return false;
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
    HIDP_CAPS caps{};
    return ReadCaps(ToHandle(device), &caps) && caps.NumberFeatureValueCaps != 0;
}

bool HidSetFeature(HidHandle device, const std::uint8_t* buffer, std::uint32_t length)
{
    if (!HidIsOpen(device) || buffer == nullptr || length == 0) {
        return false;
    }
    const std::uint32_t passed = TransferLength(device, length);
    std::unique_ptr<std::uint8_t[]> padded(new (std::nothrow) std::uint8_t[passed]());
    if (!padded) {
        ReportFailure(true, buffer[0], length, passed, ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    std::memcpy(padded.get(), buffer, length);
    if (!HidD_SetFeature(ToHandle(device), padded.get(), passed)) {
        ReportFailure(true, buffer[0], length, passed, GetLastError());
        return false;
    }
    return true;
}

bool HidGetFeature(HidHandle device, std::uint8_t* buffer, std::uint32_t length)
{
    if (!HidIsOpen(device) || buffer == nullptr || length == 0) {
        return false;
    }
    const std::uint32_t passed = TransferLength(device, length);
    std::unique_ptr<std::uint8_t[]> whole(new (std::nothrow) std::uint8_t[passed]());
    if (!whole) {
        ReportFailure(false, buffer[0], length, passed, ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    whole[0] = buffer[0];
    if (!HidD_GetFeature(ToHandle(device), whole.get(), passed)) {
        ReportFailure(false, buffer[0], length, passed, GetLastError());
        return false;
    }
    std::memcpy(buffer, whole.get(), length);
    return true;
}

void HidClose(HidHandle device)
{
    CloseHandle(ToHandle(device));
    delete device;
}

HANDLE HidNativeHandle(HidHandle device)
{
    return HidIsOpen(device) ? device->handle : INVALID_HANDLE_VALUE;
}
