#pragma once
// Time seam: real time in the product, a virtual clock in the tests. Callable from any thread.

#include <cstdint>

// Blocks the calling thread for ms milliseconds.
void PauseMs(std::uint32_t ms);

// Gives the processor away without a pause of its own.
void YieldThread();

// The calendar clock in whole seconds; time-outs are counted on it.
std::int64_t CalendarSeconds();
