#pragma once
// The in-process HID adapter: the HID seam answered by a SimController, at virtual-clock times.

#include <string>

struct SimController;

// Makes sim the devices that the HID seam presents (null: none). Does not take ownership.
void SimInprocInstall(SimController* sim);

// Paths presented for the simulated interfaces, in order: "sim:0", "sim:1", ...
std::string SimInprocPath(int index);

// How many devices are open right now (to check that everything opened is closed).
int SimInprocOpenCount();
