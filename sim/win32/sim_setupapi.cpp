// Replacement setupapi.dll: lists the simulated HID interfaces that the replacement hid.dll owns.

#define _SETUPAPI_
#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

extern "C" {
__declspec(dllimport) int QavelSimInterfaceCount();
__declspec(dllimport) BOOL QavelSimInterfacePath(int index, char* buffer, DWORD size);
}

namespace {

constexpr GUID kHidGuid = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr std::uint32_t kSetMagic = 0x51534554;

// A snapshot of the interfaces present when the set was made, like the real device set.
struct DeviceSet {
    std::uint32_t magic = kSetMagic;
    std::vector<std::string> paths;
};

DeviceSet* SetOf(HDEVINFO handle)
{
    auto* set = reinterpret_cast<DeviceSet*>(handle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || set->magic != kSetMagic) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return set;
}

}  // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR, HWND, DWORD flags)
{
    auto* set = new (std::nothrow) DeviceSet;
    if (set == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    const bool hidInterfaces = (flags & DIGCF_DEVICEINTERFACE) != 0 &&
                               ((flags & DIGCF_ALLCLASSES) != 0 ||
                                (classGuid != nullptr && IsEqualGUID(*classGuid, kHidGuid)));
    if (hidInterfaces) {
        const int count = QavelSimInterfaceCount();
        for (int i = 0; i < count; ++i) {
            char path[MAX_PATH];
            if (QavelSimInterfacePath(i, path, sizeof path)) {
                set->paths.emplace_back(path);
            }
        }
    }
    return reinterpret_cast<HDEVINFO>(set);
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA, const GUID* classGuid,
                                        DWORD index, PSP_DEVICE_INTERFACE_DATA data)
{
    DeviceSet* set = SetOf(handle);
    if (set == nullptr) {
        return FALSE;
    }
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (classGuid == nullptr || !IsEqualGUID(*classGuid, kHidGuid) || index >= set->paths.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = kHidGuid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index + 1;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                             DWORD detailSize, PDWORD requiredSize,
                                             PSP_DEVINFO_DATA deviceData)
{
    DeviceSet* set = SetOf(handle);
    if (set == nullptr) {
        return FALSE;
    }
    if (data == nullptr || data->Reserved == 0 || data->Reserved > set->paths.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string& path = set->paths[data->Reserved - 1];
    const DWORD required = static_cast<DWORD>(
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = required;
    }
    if (detail == nullptr) {
        SetLastError(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detailSize < required) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    if (deviceData != nullptr && deviceData->cbSize == sizeof(SP_DEVINFO_DATA)) {
        deviceData->ClassGuid = kHidGuid;
        deviceData->DevInst = static_cast<DWORD>(data->Reserved);
        deviceData->Reserved = 0;
    }
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle)
{
    DeviceSet* set = SetOf(handle);
    if (set == nullptr) {
        return FALSE;
    }
    set->magic = 0;
    delete set;
    return TRUE;
}

}  // extern "C"
