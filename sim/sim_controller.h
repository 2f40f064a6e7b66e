#pragma once
// The simulated controller: every supported model's device side, driven by a scenario file and
// writing a transcript of every feature-report transfer. Not part of the product.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct SimTouch {
    std::int32_t x = 0;
    std::int32_t y = 0;
    int samples = 40;
    int jitter = 0;
    int perReport = 2;
    int rest = 1;
};

struct SimRefusal {
    bool any = false;  // every transfer of the interface, both directions counted together
    bool set = true;   // direction: set (true) or get (false)
    std::uint8_t reportId = 0;
    int times = -1;  // -1: always
    int from = 1;    // 1-based index of the first refused transfer of that kind
};

struct SimDeviceSpec {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool featureValues = true;
    // An additional feature report in the interface's descriptor that the controller does not
    // answer (id 0: none); its length counts the id byte.
    std::uint8_t extraReportId = 0;
    std::uint16_t extraReportLength = 0;
    // Two top-level collections: a touch-screen one without feature reports first, then the
    // controller's. Only the presentation differs; the controller behaves the same.
    bool composite = false;
    // Linux: its node refuses to open (EACCES), as without the udev rule; the Windows adapters,
    // whose program opens without data access, do not see it.
    bool denied = false;
};

struct SimScenario {
    std::vector<SimDeviceSpec> devices;
    std::vector<SimTouch> touches;
    std::int8_t linearization[50] = {};
    std::uint8_t calibrationPage[26] = {};
    std::vector<int> statusTouches;  // after=K of each status-touch line, in order
    std::string asciiStartReply = "0";
    int asciiStartAfter = 2;
    std::vector<int> asciiTouches;  // after=K of each ascii-touch line, in order
    std::vector<SimRefusal> refusals;
    bool touchFromPointer = false;
    std::uint8_t pageReadId = 5;  // byte 0 of every page read's answer
    bool pageReadEchoes = true;   // page reads echo the selection in bytes 1..7 (else zeros)
};

// Parses scenario text. On failure returns false and sets error to "FILE:LINE: reason".
bool ParseScenario(const std::string& text, const std::string& fileName, SimScenario* out,
                   std::string* error);

// Reads and parses a scenario file; on failure error names the file, the line and the reason.
bool LoadScenarioFile(const std::string& path, SimScenario* out, std::string* error);

// Reads QAVEL_SIM; on a broken scenario prints the error to stderr and exits with code 2.
// Unset: an empty scenario (no devices).
SimScenario LoadScenarioFromEnvironmentOrExit();

struct SimController;

// The simulated devices of a scenario. transcript may be null (no transcript); it is not closed.
SimController* SimCreate(const SimScenario& scenario, std::FILE* transcript);
void SimDestroy(SimController* sim);

int SimDeviceCount(const SimController* sim);
SimDeviceSpec SimDevice(const SimController* sim, int index);

// One transfer to device `index` at time nowMs (for the transcript). Logs the transfer.
bool SimSetFeature(SimController* sim, int index, const std::uint8_t* buffer, std::uint32_t length,
                   std::uint64_t nowMs);
bool SimGetFeature(SimController* sim, int index, std::uint8_t* buffer, std::uint32_t length,
                   std::uint64_t nowMs);

// Logs a transfer that the adapter refused before it reached a device, as the platform's stack
// would have: a failed line with the caller's length (and, for a set, its bytes).
void SimLogRefusedTransfer(SimController* sim, bool set, const std::uint8_t* buffer,
                           std::uint32_t length, std::uint64_t nowMs);

// A touch at controller units (x, y) with the default touch parameters, queued after the
// scripted ones (pointer input of the demo).
void SimQueueTouch(SimController* sim, std::int32_t x, std::int32_t y);

// Live pointer input for scenarios with "touch-from pointer" (x, y already in controller units).
// Raw models: a press starts a touch of touching samples at the pointer that lasts while the
// button is down and at least 39 samples however short the click, then one lift sample where
// the button was let go. Status models: a release accepts the next target.
// Model 0x0300: a release makes the message "1" available at the next poll.
void SimPointer(SimController* sim, bool buttonDown, std::int32_t x, std::int32_t y);

// Maps a screen point to controller units: left and bottom edges -1900, right and top +1900.
void SimScreenToController(int screenX, int screenY, int screenWidth, int screenHeight,
                           std::int32_t* x, std::int32_t* y);

// Current data bytes of a page (1: 26 bytes of calibration, 2: 50 of linearization).
// The page of the raw-model device that last answered a transfer (before any: the first raw-model
// device; without one: the scenario's page). Empty for another page number.
std::vector<std::uint8_t> SimPage(const SimController* sim, int page);

// The whole report 5 (72 bytes) that reading that page would return now, with the bytes beyond the
// data as the controller keeps them. Empty for another page number.
std::vector<std::uint8_t> SimPageReport(const SimController* sim, int page);
