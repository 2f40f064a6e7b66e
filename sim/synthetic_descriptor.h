#pragma once
// The report descriptor a simulated interface presents, to the Linux program (preload library)
// and to the Windows one (replacement hid.dll, which takes its caps from it).

#include <cstdint>
#include <vector>

#include "sim_controller.h"

// A vendor-defined top-level collection with the controller's feature reports, and the device's
// extra feature report if it has one. With featureValues the reports are byte-sized values;
// without, the same reports are 1-bit flags, which declare no feature values. A composite device
// declares a touch-screen collection (input report 1, no feature reports) before that one.
std::vector<std::uint8_t> SyntheticReportDescriptor(const SimDeviceSpec& device);

// True for the ids of the controller's own feature reports in that descriptor.
bool IsSyntheticControllerReport(std::uint8_t id);
