#pragma once
// Report-descriptor helpers of the uhid bridge: sizing a descriptor and reading the lengths of the
// feature reports it declares, which a device needs to answer a get request whole.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The descriptor grown to exactly `size` bytes by global items placed before it, which change
// nothing it declares. Empty when `size` is smaller than the descriptor or above 4096.
std::vector<std::uint8_t> PadReportDescriptor(const std::vector<std::uint8_t>& descriptor,
                                              std::size_t size);

// Whole length in bytes (the identifier byte included) of every numbered feature report, indexed
// by report identifier; 0 where none is declared. False for a malformed or truncated descriptor,
// or one whose feature reports are not numbered.
bool FeatureReportLengths(const std::uint8_t* descriptor, std::size_t length,
                          std::array<std::uint32_t, 256>* lengths);
