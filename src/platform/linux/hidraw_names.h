#pragma once
// Turns the entries of /sys/class/hidraw into device paths in a stable order.

#include <string>
#include <vector>

// "/dev/hidrawN" for every entry named "hidrawN" (N decimal digits only), sorted by N as a
// number; other entries are left out.
std::vector<std::string> HidrawPathsInOrder(const std::vector<std::string>& entryNames);
