#pragma once
// A virtual clock behind the time seam: pauses advance it at once, so time-outs cost no real time.

#include <cstdint>
#include <functional>

// Starts again at 0 ms; the calendar clock reads (calendarOffsetMs + now) / 1000 seconds.
void VirtualClockReset(std::int64_t calendarOffsetMs = 0);

std::uint64_t VirtualNowMs();

// Runs action on the thread that moves the clock to or past atMs, with the clock reading atMs.
void VirtualClockSchedule(std::uint64_t atMs, std::function<void()> action);
