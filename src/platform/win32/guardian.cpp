// The guardian on Windows: the same program started again with the read end of a pipe and a
// duplicate of the device handle, both inherited. The program writes each plan down the pipe;
// the guardian learns of the program's death when the pipe breaks (the system closes the write
// end only once every thread of the program has ended, so nothing of it still sends by then).

#include "platform/guardian.h"

#include <windows.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "controller/session.h"
#include "platform/guardian_message.h"
#include "platform/win32/guardian_role.h"
#include "platform/win32/hid_handle.h"

namespace {

// Not an option: nobody types it, and it counts only with an inherited pipe behind it.
constexpr const char* kRoleMarker = "--qavel-guardian-of-a-calibration";

constexpr int kAttempts = 10;
constexpr DWORD kPauseBeforeAttemptMs = 100;
// How long the program waits for a released guardian to end: it ends at once.
constexpr DWORD kReleaseWaitMs = 2000;

HANDLE planPipe = nullptr;
HANDLE watcher = nullptr;

// --- the guardian ---

void PauseUntil(ULONGLONG atMs)
{
    const ULONGLONG now = GetTickCount64();
    if (atMs > now) {
        Sleep(static_cast<DWORD>(atMs - now));
    }
}

// As the run's transport sends: each attempt after a pause, at most ten.
void Send(HidHandle device, const GuardianPlan& plan, ULONGLONG armedAtMs)
{
    ULONGLONG since = armedAtMs;
    for (std::uint32_t k = 0; k < plan.count; ++k) {
        const GuardianStep& step = plan.steps[k];
        PauseUntil(since + step.pauseMs);
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            Sleep(kPauseBeforeAttemptMs);
            if (HidSetFeature(device, step.report, step.length)) {
                break;
            }
            if (GetLastError() == ERROR_DEVICE_NOT_CONNECTED) {
                return;  // unplugged: the controller starts afresh when it comes back
            }
        }
        since = GetTickCount64();
    }
}

// Reads one whole message; false once the pipe is broken or fails (broken: *gone set).
bool ReadMessage(HANDLE pipe, GuardianMessage* message, bool* gone)
{
    auto* bytes = reinterpret_cast<char*>(message);
    DWORD got = 0;
    while (got < sizeof *message) {
        DWORD n = 0;
        if (!ReadFile(pipe, bytes + got, sizeof *message - got, &n, nullptr)) {
            *gone = GetLastError() == ERROR_BROKEN_PIPE;
            return false;
        }
        got += n;
    }
    return true;
}

void Watch(HANDLE pipe, HidHandle device)
{
    GuardianPlan plan{};
    ULONGLONG armedAtMs = 0;
    for (;;) {
        GuardianMessage message{};
        bool gone = false;
        if (!ReadMessage(pipe, &message, &gone)) {
            // A pipe that fails otherwise says nothing of the program: sending could race it.
            if (gone) {
                Send(device, plan, armedAtMs);
            }
            return;
        }
        if (message.kind == kGuardianRelease) {
            return;
        }
        if (message.kind == kGuardianArm && GuardianPlanValid(message.plan)) {
            plan = message.plan;
            armedAtMs = GetTickCount64();
        }
    }
}

// A decimal number after spaces; false when there is none. No scanf: its conversions would bring
// the runtime's x87 number parsing into the 32-bit program.
bool ReadNumber(const char** text, unsigned long long* value)
{
    const char* at = *text;
    while (*at == ' ') {
        ++at;
    }
    if (*at < '0' || *at > '9') {
        return false;
    }
    char* end = nullptr;
    *value = std::strtoull(at, &end, 10);
    *text = end;
    return true;
}

// "MARKER PIPE DEVICE", the handles in decimal.
bool ParseRole(const char* commandLine, HANDLE* pipe, HANDLE* device)
{
    const char* at = commandLine != nullptr ? std::strstr(commandLine, kRoleMarker) : nullptr;
    if (at == nullptr) {
        return false;
    }
    at += std::strlen(kRoleMarker);
    unsigned long long pipeValue = 0;
    unsigned long long deviceValue = 0;
    if (!ReadNumber(&at, &pipeValue) || !ReadNumber(&at, &deviceValue)) {
        return false;
    }
    while (*at == ' ') {
        ++at;
    }
    if (*at != '\0') {
        return false;
    }
    *pipe = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(pipeValue));
    *device = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(deviceValue));
    return true;
}

// --- the program ---

void Post(const GuardianMessage& message)
{
    if (planPipe == nullptr) {
        return;
    }
    DWORD written = 0;
    WriteFile(planPipe, &message, sizeof message, &written, nullptr);
}

}  // namespace

bool RunAsGuardian(const char* commandLine)
{
    HANDLE pipe = nullptr;
    HANDLE handle = nullptr;
    if (!ParseRole(commandLine, &pipe, &handle) || GetFileType(pipe) != FILE_TYPE_PIPE) {
        return false;
    }
    // Started by the program: from here on never a second program beside it, even when the
    // device no longer checks out (unplugged since). Then there is nothing to guard.
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(handle, &attributes) || attributes.VendorID != kQavelVendorId ||
        !IsSupportedProduct(attributes.ProductID)) {
        CloseHandle(pipe);
        return true;
    }
    HidHandle device = HidAdopt(handle);
    if (device == nullptr) {
        CloseHandle(pipe);
        return true;
    }
    Watch(pipe, device);
    HidClose(device);
    CloseHandle(pipe);
    return true;
}

bool GuardianStart(HidHandle device)
{
    if (planPipe != nullptr) {
        return false;
    }
    HANDLE self = GetCurrentProcess();
    HANDLE inheritedDevice = nullptr;
    if (!DuplicateHandle(self, HidNativeHandle(device), self, &inheritedDevice, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        CloseHandle(inheritedDevice);
        return false;
    }
    // The guardian must hold no write end, or the pipe would never break.
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);

    char program[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    char commandLine[MAX_PATH + 128];
    PROCESS_INFORMATION process{};
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    bool started = false;
    if (length > 0 && length < sizeof program) {
        std::snprintf(
            commandLine, sizeof commandLine, "\"%s\" %s %llu %llu", program, kRoleMarker,
            static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(readEnd)),
            static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(inheritedDevice)));
        started = CreateProcessA(program, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &startup, &process) != 0;
    }
    CloseHandle(readEnd);
    CloseHandle(inheritedDevice);
    if (!started) {
        CloseHandle(writeEnd);
        return false;
    }
    CloseHandle(process.hThread);
    watcher = process.hProcess;
    planPipe = writeEnd;
    return true;
}

void GuardianArm(const GuardianPlan& plan)
{
    GuardianMessage message{};
    message.kind = kGuardianArm;
    message.plan = plan;
    Post(message);
}

void GuardianRelease()
{
    if (planPipe == nullptr) {
        return;
    }
    GuardianMessage release{};
    release.kind = kGuardianRelease;
    Post(release);
    CloseHandle(planPipe);
    planPipe = nullptr;
    WaitForSingleObject(watcher, kReleaseWaitMs);
    CloseHandle(watcher);
    watcher = nullptr;
}
