// Replacement hid.dll: the simulated controllers behind the HID class driver calls, as strict as
// Windows' class driver. It owns the one simulator of the process; the replacement setupapi.dll
// lists its interfaces through the two QavelSim* exports.

#include "hid_class_rules.h"
#include "sim_controller.h"
#include "synthetic_descriptor.h"

#include <windows.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

// The interface class identifier the HID class driver reports.
constexpr GUID kHidGuid = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr std::uint32_t kPreparsedMagic = 0x51504844;  // "DHPQ"

// The program opens interface paths with the real CreateFileA, so every simulated interface is a
// small file of its own; a handle is traced back to its interface by the file's identity.
struct Interface {
    std::string path;
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool capsKnown = false;  // false: the descriptor does not parse, so there is no preparsed data
    HidCollectionCaps caps;  // of its one top-level collection
};

struct Simulator {
    SimController* sim = nullptr;
    std::FILE* transcript = nullptr;
    ULONGLONG startMs = 0;
    bool touchFromPointer = false;
    std::string folder;
    bool ownsFolder = true;
    std::vector<Interface> interfaces;
};

// Handed down to the processes the program starts (its guardian): where the interface files are
// and when the transcript's clock started, so that they reach the same devices and stamp their
// transfers on the same clock.
constexpr const char* kSharedVariable = "QAVEL_SIM_SHARED";

static_assert(kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(kErrorInvalidUserBuffer == ERROR_INVALID_USER_BUFFER);

// What HidD_GetPreparsedData hands out: the collection's caps, read from the descriptor.
struct PreparsedToken {
    std::uint32_t magic;
    HidCollectionCaps caps;
};

std::once_flag started;
Simulator state;

// Unix paths in QAVEL_SIM and QAVEL_SIM_LOG are the natural thing to write under Wine; a Windows
// program sees them relative to the current drive, so translate them to the drive that maps "/".
std::string WindowsPath(const std::string& path)
{
    if (path.empty() || path[0] != '/') {
        return path;
    }
    using ToDos = WCHAR* (*)(const char*);
    auto toDos = reinterpret_cast<ToDos>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    if (toDos != nullptr) {
        WCHAR* wide = toDos(path.c_str());
        if (wide != nullptr) {
            char narrow[MAX_PATH * 4];
            const int n =
                WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
            HeapFree(GetProcessHeap(), 0, wide);
            if (n > 0) {
                return narrow;
            }
        }
    }
    std::string dos = "Z:" + path;
    for (char& c : dos) {
        if (c == '/')
            c = '\\';
    }
    return dos;
}

SimScenario LoadScenarioOrExit()
{
    SimScenario scenario;
    const char* variable = std::getenv("QAVEL_SIM");
    if (variable == nullptr || variable[0] == '\0') {
        return scenario;
    }
    const std::string original = variable;
    const std::string path = WindowsPath(original);
    std::string error;
    if (!LoadScenarioFile(path, &scenario, &error)) {
        // Name the file as the user wrote it.
        if (error.compare(0, path.size(), path) == 0) {
            error = original + error.substr(path.size());
        }
        std::fprintf(stderr, "qavel simulator: %s\n", error.c_str());
        std::fflush(stderr);
        ExitProcess(2);
    }
    return scenario;
}

// Makes (or, handed down, finds) one file per interface and learns each one's identity.
bool MakeInterfaceFiles(int count, bool create)
{
    if (create) {
        char temp[MAX_PATH];
        const DWORD length = GetTempPathA(sizeof temp, temp);
        if (length == 0 || length >= sizeof temp) {
            return false;
        }
        state.folder = std::string(temp) + "qavel-sim-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(state.folder.c_str(), nullptr);
    }
    for (int i = 0; i < count; ++i) {
        Interface entry;
        entry.path = state.folder + "\\hid-" + std::to_string(i);
        HANDLE file = CreateFileA(
            entry.path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
            nullptr, create ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        BY_HANDLE_FILE_INFORMATION info;
        const BOOL known = GetFileInformationByHandle(file, &info);
        CloseHandle(file);
        if (!known) {
            return false;
        }
        entry.volume = info.dwVolumeSerialNumber;
        entry.indexHigh = info.nFileIndexHigh;
        entry.indexLow = info.nFileIndexLow;
        const std::vector<std::uint8_t> descriptor =
            SyntheticReportDescriptor(SimDevice(state.sim, i));
        std::vector<HidCollectionCaps> collections;
        if (ParseCollectionCaps(descriptor.data(), descriptor.size(), &collections) &&
            !collections.empty()) {
            entry.capsKnown = true;
            entry.caps = collections.front();
        }
        state.interfaces.push_back(entry);
    }
    return true;
}

void Start()
{
    const SimScenario scenario = LoadScenarioOrExit();
    const char* log = std::getenv("QAVEL_SIM_LOG");
    if (log != nullptr && log[0] != '\0') {
        const std::string path = WindowsPath(log);
        state.transcript = std::fopen(path.c_str(), "a");
        if (state.transcript == nullptr) {
            std::fprintf(stderr, "qavel simulator: %s: cannot open the transcript\n", log);
            std::fflush(stderr);
            ExitProcess(2);
        }
    }
    state.touchFromPointer = scenario.touchFromPointer;
    state.sim = SimCreate(scenario, state.transcript);
    state.startMs = GetTickCount64();
    char shared[MAX_PATH + 32];
    const DWORD sharedLength = GetEnvironmentVariableA(kSharedVariable, shared, sizeof shared);
    unsigned long long startMs = 0;
    int folderAt = 0;
    if (sharedLength > 0 && sharedLength < sizeof shared &&
        std::sscanf(shared, "%llu %n", &startMs, &folderAt) == 1 && shared[folderAt] != '\0') {
        state.startMs = startMs;
        state.folder = shared + folderAt;
        state.ownsFolder = false;
    }
    const bool made = MakeInterfaceFiles(SimDeviceCount(state.sim), state.ownsFolder);
    if (made && state.ownsFolder) {
        const std::string value = std::to_string(state.startMs) + " " + state.folder;
        SetEnvironmentVariableA(kSharedVariable, value.c_str());
    }
    if (!made) {
        std::fprintf(stderr, "qavel simulator: cannot create the interface files under %s\n",
                     state.folder.c_str());
        std::fflush(stderr);
        ExitProcess(2);
    }
}

Simulator& Sim()
{
    std::call_once(started, Start);
    return state;
}

std::uint64_t NowMs()
{
    return GetTickCount64() - Sim().startMs;
}

// The interface a handle was opened on, or -1.
int DeviceOf(HANDLE handle)
{
    Simulator& s = Sim();
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        !GetFileInformationByHandle(handle, &info)) {
        return -1;
    }
    for (std::size_t i = 0; i < s.interfaces.size(); ++i) {
        const Interface& entry = s.interfaces[i];
        if (entry.volume == info.dwVolumeSerialNumber && entry.indexHigh == info.nFileIndexHigh &&
            entry.indexLow == info.nFileIndexLow) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int DeviceOrFail(HANDLE handle)
{
    const int device = DeviceOf(handle);
    if (device < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return device;
}

// Pointer input of the demo: the first mouse button, sampled whenever the program polls.
void PollPointer()
{
    Simulator& s = Sim();
    if (!s.touchFromPointer) {
        return;
    }
    POINT cursor;
    if (!GetCursorPos(&cursor)) {
        return;
    }
    const bool down = (GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    SimScreenToController(cursor.x, cursor.y, GetSystemMetrics(SM_CXSCREEN),
                          GetSystemMetrics(SM_CYSCREEN), &x, &y);
    SimPointer(s.sim, down, x, y);
}

// The class driver's rule for a feature transfer on that interface: the report's own length when
// accepted; otherwise 0, with the error code set and the refusal in the transcript.
std::uint32_t AcceptedLength(int index, const std::uint8_t* buffer, ULONG length, bool set)
{
    const Interface& entry = Sim().interfaces[static_cast<std::size_t>(index)];
    FeatureTransferCheck check = CheckFeatureTransfer(entry.caps, buffer, length);
    if (!entry.capsKnown && check.error == 0) {
        check.error = kErrorInvalidParameter;
    }
    if (check.error != 0) {
        SimLogRefusedTransfer(Sim().sim, set, buffer, length, NowMs());
        SetLastError(check.error);
        return 0;
    }
    return check.reportLength;
}

void RemoveInterfaceFiles()
{
    if (!state.ownsFolder) {
        return;
    }
    for (const Interface& entry : state.interfaces) {
        DeleteFileA(entry.path.c_str());
    }
    if (!state.folder.empty()) {
        RemoveDirectoryA(state.folder.c_str());
    }
}

}  // namespace

extern "C" {

__declspec(dllexport) int QavelSimInterfaceCount()
{
    return static_cast<int>(Sim().interfaces.size());
}

// Copies the path of interface `index` into buffer; false when there is no such interface or
// the buffer is too small.
__declspec(dllexport) BOOL QavelSimInterfacePath(int index, char* buffer, DWORD size)
{
    Simulator& s = Sim();
    if (index < 0 || static_cast<std::size_t>(index) >= s.interfaces.size()) {
        return FALSE;
    }
    const std::string& path = s.interfaces[index].path;
    if (buffer == nullptr || path.size() + 1 > size) {
        return FALSE;
    }
    path.copy(buffer, path.size());
    buffer[path.size()] = '\0';
    return TRUE;
}

void NTAPI HidD_GetHidGuid(LPGUID hidGuid)
{
    if (hidGuid != nullptr) {
        *hidGuid = kHidGuid;
    }
}

BOOLEAN NTAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes)
{
    const int index = DeviceOrFail(device);
    if (index < 0) {
        return FALSE;
    }
    if (attributes == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const SimDeviceSpec spec = SimDevice(Sim().sim, index);
    attributes->VendorID = spec.vendor;
    attributes->ProductID = spec.product;
    attributes->VersionNumber = 0x0100;
    return TRUE;
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed)
{
    const int index = DeviceOrFail(device);
    if (index < 0) {
        return FALSE;
    }
    const Interface& entry = Sim().interfaces[static_cast<std::size_t>(index)];
    if (preparsed == nullptr || !entry.capsKnown) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* token = new (std::nothrow) PreparsedToken{kPreparsedMagic, {}};
    if (token == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    token->caps = entry.caps;
    *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(token);
    return TRUE;
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed)
{
    auto* token = reinterpret_cast<PreparsedToken*>(preparsed);
    if (token == nullptr || token->magic != kPreparsedMagic) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    token->magic = 0;
    delete token;
    return TRUE;
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps)
{
    const auto* token = reinterpret_cast<const PreparsedToken*>(preparsed);
    if (token == nullptr || token->magic != kPreparsedMagic || caps == nullptr) {
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    const HidCollectionCaps& from = token->caps;
    ZeroMemory(caps, sizeof *caps);
    caps->UsagePage = from.usagePage;
    caps->Usage = from.usage;
    caps->InputReportByteLength = from.inputReportByteLength;
    caps->OutputReportByteLength = from.outputReportByteLength;
    caps->FeatureReportByteLength = from.featureReportByteLength;
    caps->NumberLinkCollectionNodes = from.numberLinkCollectionNodes;
    caps->NumberFeatureButtonCaps = from.numberFeatureButtonCaps;
    caps->NumberFeatureValueCaps = from.numberFeatureValueCaps;
    caps->NumberFeatureDataIndices = from.numberFeatureDataIndices;
    return HIDP_STATUS_SUCCESS;
}

BOOLEAN NTAPI HidD_SetFeature(HANDLE device, PVOID buffer, ULONG length)
{
    const int index = DeviceOrFail(device);
    if (index < 0) {
        return FALSE;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    const std::uint32_t reportLength = AcceptedLength(index, bytes, length, true);
    if (reportLength == 0) {
        return FALSE;
    }
    if (!SimSetFeature(Sim().sim, index, bytes, reportLength, NowMs())) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    return TRUE;
}

BOOLEAN NTAPI HidD_GetFeature(HANDLE device, PVOID buffer, ULONG length)
{
    const int index = DeviceOrFail(device);
    if (index < 0) {
        return FALSE;
    }
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const std::uint32_t reportLength = AcceptedLength(index, bytes, length, false);
    if (reportLength == 0) {
        return FALSE;
    }
    PollPointer();
    if (!SimGetFeature(Sim().sim, index, bytes, reportLength, NowMs())) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_DETACH) {
        if (state.transcript != nullptr) {
            std::fflush(state.transcript);
        }
        RemoveInterfaceFiles();
    }
    return TRUE;
}

}  // extern "C"
