#pragma once
// The one opened controller of a run, and how it is found, opened and closed.

#include <cstdint>
#include <string>

#include "platform/hid.h"

constexpr std::uint16_t kQavelVendorId = 0x0596;

constexpr std::uint32_t kModelStatus0003 = 0x0003;
constexpr std::uint32_t kModelRaw0100 = 0x0100;
constexpr std::uint32_t kModelRaw0102 = 0x0102;
constexpr std::uint32_t kModelAscii0300 = 0x0300;
constexpr std::uint32_t kModelStatus0400 = 0x0400;

// Opened: the pause counts from the opening whatever came after (only the window is made before
// the first transfer). StepEnded (a transfer or a pause ended): only while less than the pause
// has passed since, so that a pause made in between is never taken out of this one.
enum class QuietMark : std::uint8_t { None, Opened, StepEnded };

struct ControllerSession {
    HidHandle device;
    std::int32_t x[3];
    std::int32_t y[3];
    std::int32_t pointCount;
    std::uint32_t productId;
    // When the controller last went quiet (a MonotonicUs reading), and why: the pause before the
    // next transfer counts from there, not from its own start.
    QuietMark quietMark;
    std::int64_t quietSinceUs;
};

// True for the five product identifiers this tool calibrates.
bool IsSupportedProduct(std::uint32_t productId);

// A new zero-filled session holding the first supported controller, opened; null when none.
ControllerSession* OpenController();

// Walks the HID interfaces in order and opens the first supported one into session->device.
bool FindController(ControllerSession* session);

// After a search that found nothing: the platform's explanation for the first supported
// controller present whose interface cannot be opened, or empty when there is none.
std::string ExplainMissingController();

// Ends the use of the controller (raw models get the end-of-calibration mode once more) and
// frees the session.
void CloseController(ControllerSession* session);
