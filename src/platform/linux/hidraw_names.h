#pragma once
// Turns the entries of /sys/class/hidraw into device paths in a stable order, and reads what
// sysfs says of a node without opening it.

#include <cstdint>
#include <string>
#include <vector>

// "/dev/hidrawN" for every entry named "hidrawN" (N decimal digits only), sorted by N as a
// number; other entries are left out.
std::vector<std::string> HidrawPathsInOrder(const std::vector<std::string>& entryNames);

// "/sys/class/hidraw/hidrawN/device/uevent" for "/dev/hidrawN"; empty for any other path.
std::string UeventPathOfNode(const std::string& nodePath);

// Vendor and product from the "HID_ID=BBBB:VVVVVVVV:PPPPPPPP" line (hexadecimal) of a HID
// device's uevent text; false when there is no such line or a value does not fit in 16 bits.
bool ParseUeventIds(const std::string& uevent, std::uint16_t* vendor, std::uint16_t* product);
