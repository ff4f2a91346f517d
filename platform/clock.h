// Clocks: the system's millisecond tick, the local date and time as a day count, and a
// monotonic clock for elapsed time (time-outs and waits never follow the wall clock).
#pragma once

#include <cstdint>
#include <string>

namespace tarnex::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the system tick it replaces.
uint32_t TickCount();

// Milliseconds on a monotonic clock.
int64_t MonotonicMs();

// The local date and time as days since 1899-12-30, the time of day as the fraction,
// to the millisecond.
double Now();

// Formats a day count as "yyyy/mm/dd hh:nn:ss".
std::string FormatDateTime(double days);

}  // namespace tarnex::platform
