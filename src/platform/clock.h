#pragma once
// Time seam: real time in the product, a virtual clock in the tests. Callable from any thread.

#include <cstdint>

// Blocks the calling thread for ms milliseconds.
void PauseMs(std::uint32_t ms);

// Gives the processor away without a pause of its own.
void YieldThread();

// The calendar clock in whole seconds; time-outs are counted on it.
std::int64_t CalendarSeconds();

// Microseconds of a clock that never steps back, from an arbitrary origin.
std::int64_t MonotonicUs();

// Blocks the calling thread until MonotonicUs() reaches deadlineUs; returns at once if it has.
void PauseUntilUs(std::int64_t deadlineUs);
