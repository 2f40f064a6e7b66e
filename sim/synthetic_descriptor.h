#pragma once
// The report descriptor the preload library presents for a simulated interface.

#include <cstdint>
#include <vector>

// A vendor-defined top-level collection with the controller's feature reports. With
// featureValues the reports are byte-sized values; without, the same reports are 1-bit flags,
// which declare no feature values.
std::vector<std::uint8_t> SyntheticReportDescriptor(bool featureValues);
