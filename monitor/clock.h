#pragma once
// The PC clock as the program reads it.  Everything that asks "what time is it on the
// PC" (the clock check, the clock setting, the live log's day files) reads it here, so
// a test can put a fixed or stepping clock in its place (a day change, a PC clock in
// 1999 or 2100) without touching the machine's time.
#include <ctime>
#include <functional>

namespace veresk {

using PcClockSource = std::function<std::time_t()>;

// Seconds since the epoch, from the source in force (the system clock unless replaced).
std::time_t PcNow();
// Replaces the source; an empty function brings back the system clock.
void SetPcClockSource(PcClockSource source);

}  // namespace veresk
