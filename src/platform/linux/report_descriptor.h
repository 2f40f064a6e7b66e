#pragma once
// Reads a HID report descriptor the way the Windows HID parser counts feature value capabilities.

#include <cstddef>
#include <cstdint>

// Feature value capabilities declared by the descriptor's top-level collections: Feature main
// items with Report Count above 0, the Variable bit set, Report Size other than 1, and a usage
// (or usage range) other than 0 to 0. A descriptor that is truncated or malformed declares none.
// Reads only bytes [0, length).
std::uint32_t CountFeatureValueCaps(const std::uint8_t* descriptor, std::size_t length);
