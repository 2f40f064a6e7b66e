#pragma once
// HID access seam: defined once per platform (Win32, hidraw, simulator) and chosen when linking;
// each defines its own struct HidDevice. A device is used by one thread at a time (discovery on
// the main thread, transfers on the worker while the main thread pumps). Nothing here retries
// or pauses: that is the controller layer's job.

#include <cstdint>
#include <string>
#include <vector>

struct HidDevice;
using HidHandle = HidDevice*;

// Null and the platform's invalid-handle value (all bits set) both mean that no device is open.
inline bool HidIsOpen(HidHandle device)
{
    return device != nullptr && reinterpret_cast<std::intptr_t>(device) != -1;
}

// Paths of the HID interfaces present, in a stable order (the platform's enumeration order).
std::vector<std::string> HidListInterfaces();

// Opens one interface by path without exclusive use and without data access; null on failure.
HidHandle HidOpen(const std::string& path);

// For an interface that HidOpen refuses: its vendor and product as the system lists them without
// opening it, and one sentence that names the interface, the reason and what to do. False when it
// opens after all or its identifiers cannot be read that way; always false on Windows, which opens
// without data access.
bool HidExplainRefusedOpen(const std::string& path, std::uint16_t* vendor, std::uint16_t* product,
                           std::string* explanation);

// Reads the USB vendor and product identifiers; false when they cannot be read.
bool HidGetIds(HidHandle device, std::uint16_t* vendor, std::uint16_t* product);

// True when the interface's top-level collection declares at least one feature value.
bool HidDeclaresFeatureValues(HidHandle device);

// One feature-report transfer, no retry. buffer[0] is the report identifier; length includes it.
bool HidSetFeature(HidHandle device, const std::uint8_t* buffer, std::uint32_t length);
bool HidGetFeature(HidHandle device, std::uint8_t* buffer, std::uint32_t length);

void HidClose(HidHandle device);
