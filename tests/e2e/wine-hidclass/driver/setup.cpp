// Installs the test minidriver's devices into a Wine prefix, removes them, and lists the HID
// interfaces as SetupAPI and hid.dll present them. Runs without administrator rights.
//   qavel-hidclass-setup install DRIVER_DIR SCENARIO [TRANSCRIPT]
//   qavel-hidclass-setup remove
//   qavel-hidclass-setup list
//   qavel-hidclass-setup probe   (transfers at the edges of the length rule, on the first
//                                 interface of vendor 0596 that declares feature values)
// Paths may be Unix paths. Exit codes: 0 done, 1 failed, 2 bad scenario or usage.

#include "hid_class_rules.h"
#include "sim_controller.h"
#include "synthetic_descriptor.h"

#include <windows.h>
#include <setupapi.h>
#include <newdev.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kHardwareId[] = "QAVELSIM\\HID\0";  // a multi-string: one id, then the end
constexpr char kEnumerator[] = "ROOT\\QAVELSIM";
constexpr DWORD kWaitMs = 20000;

// Wine maps "/" to drive Z: in every prefix.
std::string WindowsPath(const std::string& path)
{
    if (path.empty() || path[0] != '/') {
        return path;
    }
    std::string dos = "Z:" + path;
    for (char& c : dos) {
        if (c == '/') {
            c = '\\';
        }
    }
    return dos;
}

bool Report(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "qavel-hidclass-setup: %s failed (error %lu)\n", what, GetLastError());
    }
    return ok;
}

bool SetString(HKEY key, const char* name, const std::string& value)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

// Creates root device instance `instance` carrying where its controller comes from: scenario
// device `index`, and for a composite device which of its collections (else -1).
bool CreateDevice(HDEVINFO set, DWORD instance, DWORD index, LONG collection,
                  const std::string& scenario, const std::string& transcript)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s\\%04lu", kEnumerator, instance);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!Report(SetupDiCreateDeviceInfoA(set, name, &GUID_NULL, nullptr, nullptr, 0, &device),
                "SetupDiCreateDeviceInfo") ||
        !Report(SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                  reinterpret_cast<const BYTE*>(kHardwareId),
                                                  sizeof kHardwareId),
                "setting the hardware id") ||
        !Report(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device),
                "DIF_REGISTERDEVICE")) {
        return false;
    }
    HKEY key =
        SetupDiCreateDevRegKeyA(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    if (!Report(key != INVALID_HANDLE_VALUE, "creating the device parameters key")) {
        return false;
    }
    const bool written =
        SetString(key, "Scenario", scenario) && SetString(key, "Transcript", transcript) &&
        RegSetValueExA(key, "Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index),
                       sizeof index) == ERROR_SUCCESS &&
        (collection < 0 ||
         RegSetValueExA(key, "Collection", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&collection),
                        sizeof collection) == ERROR_SUCCESS);
    RegCloseKey(key);
    return Report(written, "writing the device parameters");
}

struct Interface {
    std::string path;
    bool opened = false;
    HIDD_ATTRIBUTES attributes = {};
    bool capsRead = false;
    HIDP_CAPS caps = {};
};

// Every HID interface present, in SetupAPI's order, as the program would see it.
std::vector<Interface> ListInterfaces()
{
    std::vector<Interface> found;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return found;
    }
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, i, &data)) {
            break;
        }
        char buffer[1024];
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        Interface entry;
        if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof buffer, nullptr, nullptr)) {
            entry.path = detail->DevicePath;
        }
        HANDLE handle = entry.path.empty()
                            ? INVALID_HANDLE_VALUE
                            : CreateFileA(entry.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            entry.opened = true;
            entry.attributes.Size = sizeof entry.attributes;
            HidD_GetAttributes(handle, &entry.attributes);
            PHIDP_PREPARSED_DATA preparsed = nullptr;
            if (HidD_GetPreparsedData(handle, &preparsed)) {
                entry.capsRead = HidP_GetCaps(preparsed, &entry.caps) == HIDP_STATUS_SUCCESS;
                HidD_FreePreparsedData(preparsed);
            }
            CloseHandle(handle);
        }
        found.push_back(entry);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

// Interfaces of our devices: the class driver names them after the root device's instance.
int OurInterfaces()
{
    int count = 0;
    for (const Interface& entry : ListInterfaces()) {
        std::string upper = entry.path;
        for (char& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (upper.find("QAVELSIM") != std::string::npos) {
            ++count;
        }
    }
    return count;
}

bool WaitForInterfaces(int expected)
{
    const ULONGLONG end = GetTickCount64() + kWaitMs;
    int seen = OurInterfaces();
    while (seen != expected && GetTickCount64() < end) {
        Sleep(50);
        seen = OurInterfaces();
    }
    if (seen != expected) {
        std::fprintf(stderr,
                     "qavel-hidclass-setup: %d simulated HID interfaces present, %d expected\n",
                     seen, expected);
        return false;
    }
    return true;
}

bool RemoveDevices()
{
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, kEnumerator, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        return true;  // nothing was ever installed
    }
    bool ok = true;
    for (DWORD i = 0;; ++i) {
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set, i, &device)) {
            break;
        }
        ok = Report(SetupDiCallClassInstaller(DIF_REMOVE, set, &device), "DIF_REMOVE") && ok;
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok && WaitForInterfaces(0);
}

std::vector<char> Contents(const std::string& path)
{
    std::vector<char> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return bytes;
    }
    char chunk[65536];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    std::fclose(file);
    return bytes;
}

// Copies source over target unless target already holds the same bytes (a loaded driver's
// files cannot be replaced).
bool Replace(const std::string& source, const std::string& target)
{
    const std::vector<char> wanted = Contents(source);
    return (!wanted.empty() && wanted == Contents(target)) ||
           CopyFileA(source.c_str(), target.c_str(), FALSE);
}

int Install(const std::string& driverDir, const std::string& scenarioArg,
            const std::string& transcriptArg)
{
    const std::string scenario = WindowsPath(scenarioArg);
    const std::string transcript = WindowsPath(transcriptArg);
    SimScenario parsed;
    std::string error;
    if (!LoadScenarioFile(scenario, &parsed, &error)) {
        std::fprintf(stderr, "qavel simulator: %s\n", error.c_str());
        return 2;
    }
    if (!RemoveDevices()) {
        return 1;
    }
    if (parsed.devices.empty()) {
        return 0;
    }
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (!Report(set != INVALID_HANDLE_VALUE, "SetupDiCreateDeviceInfoList")) {
        return 1;
    }
    // Wine 8.0's class driver makes one interface of a whole descriptor, where Windows makes one
    // per top-level collection; so each collection of a composite device is a device of its own.
    bool ok = true;
    DWORD instances = 0;
    for (DWORD i = 0; ok && i < parsed.devices.size(); ++i) {
        const SimDeviceSpec& spec = parsed.devices[i];
        const std::vector<std::uint8_t> descriptor = SyntheticReportDescriptor(spec);
        std::vector<HidCollectionCaps> collections;
        if (!ParseCollectionCaps(descriptor.data(), descriptor.size(), &collections)) {
            std::fprintf(stderr, "qavel-hidclass-setup: a descriptor the setup cannot read\n");
            ok = false;
            break;
        }
        if (!spec.composite) {
            ok = CreateDevice(set, instances++, i, -1, scenario, transcript);
            continue;
        }
        for (LONG c = 0; ok && c < static_cast<LONG>(collections.size()); ++c) {
            ok = CreateDevice(set, instances++, i, c, scenario, transcript);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    if (!ok) {
        return 1;
    }
    // The inf copies its files only where none are yet: replace those of an earlier build.
    char system[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryA(system, sizeof system);
    if (!Report(systemLength != 0 && systemLength < sizeof system, "GetSystemDirectory")) {
        return 1;
    }
    const std::string source = WindowsPath(driverDir) + "\\";
    const std::string target = std::string(system) + "\\";
    if (!Report(Replace(source + "qavel-sim-device.dll", target + "qavel-sim-device.dll"),
                "copying the simulator DLL") ||
        !Report(Replace(source + "qavelsim.sys", target + "drivers\\qavelsim.sys"),
                "copying the driver")) {
        return 1;
    }
    char inf[MAX_PATH];
    const std::string infPath = source + "qavelsim.inf";
    if (!Report(GetFullPathNameA(infPath.c_str(), sizeof inf, inf, nullptr) != 0, "the inf path")) {
        return 1;
    }
    BOOL reboot = FALSE;
    if (!Report(UpdateDriverForPlugAndPlayDevicesA(nullptr, kHardwareId, inf, INSTALLFLAG_FORCE,
                                                   &reboot),
                "UpdateDriverForPlugAndPlayDevices")) {
        return 1;
    }
    return WaitForInterfaces(static_cast<int>(instances)) ? 0 : 1;
}

void List()
{
    for (const Interface& entry : ListInterfaces()) {
        std::printf("%s", entry.path.c_str());
        if (entry.opened) {
            std::printf(" vid=%04x pid=%04x", entry.attributes.VendorID,
                        entry.attributes.ProductID);
        }
        if (entry.capsRead) {
            std::printf(" usage=%04x:%04x feature-values=%u feature-length=%u",
                        entry.caps.UsagePage, entry.caps.Usage, entry.caps.NumberFeatureValueCaps,
                        entry.caps.FeatureReportByteLength);
        }
        std::printf("\n");
    }
}

// One transfer; prints NAME=ok or NAME=ERROR_CODE.
void Probe(HANDLE handle, const char* name, bool set, std::uint8_t id, ULONG length)
{
    std::vector<std::uint8_t> buffer(length + 1, 0);
    buffer[0] = id;
    SetLastError(0);
    const BOOLEAN ok = set ? HidD_SetFeature(handle, buffer.data(), length)
                           : HidD_GetFeature(handle, buffer.data(), length);
    if (ok) {
        std::printf("%s=ok\n", name);
    } else {
        std::printf("%s=%lu\n", name, GetLastError());
    }
}

int ProbeLengths()
{
    for (const Interface& entry : ListInterfaces()) {
        if (entry.attributes.VendorID != 0x0596 || !entry.capsRead ||
            entry.caps.NumberFeatureValueCaps == 0) {
            continue;
        }
        HANDLE handle = CreateFileA(entry.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        if (!Report(handle != INVALID_HANDLE_VALUE, "opening the interface")) {
            return 1;
        }
        const ULONG caps = entry.caps.FeatureReportByteLength;
        std::printf("caps=%lu\n", caps);
        Probe(handle, "get-own-length", false, 0x08, 8);
        Probe(handle, "get-caps-less-one", false, 0x08, caps - 1);
        Probe(handle, "get-caps", false, 0x08, caps);
        Probe(handle, "get-undeclared-id", false, 0x42, caps);
        Probe(handle, "set-below-own-length", true, 0x03, 7);
        Probe(handle, "get-empty", false, 0x08, 0);
        CloseHandle(handle);
        return 0;
    }
    std::fprintf(stderr, "qavel-hidclass-setup: no interface to probe\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "install" && (argc == 4 || argc == 5)) {
        return Install(argv[2], argv[3], argc == 5 ? argv[4] : "");
    }
    if (command == "remove" && argc == 2) {
        return RemoveDevices() ? 0 : 1;
    }
    if (command == "probe" && argc == 2) {
        return ProbeLengths();
    }
    if (command == "list" && argc == 2) {
        List();
        return 0;
    }
    std::fprintf(stderr,
                 "usage: qavel-hidclass-setup install DRIVER_DIR SCENARIO [TRANSCRIPT]\n"
                 "       qavel-hidclass-setup remove | list | probe\n");
    return 2;
}
