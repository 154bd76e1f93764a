#pragma once
// The device side of one polling tick: open, ask for the status block, judge it, count
// failures, decode, keep the device clock in step.  The window draws what it returns.
#include <array>
#include <cstdint>
#include <ctime>
#include <optional>

#include "monitor/status.h"

namespace veresk {

enum class PollOutcome {
    OpenFailed,   // the port could not be opened; the error counter is untouched
    WrongLength,  // not 71 bytes; counted
    CrcFailure,   // 71 bytes, residual not zero; counted
    ClockSet,     // good block, but the device clock was 6 s or more off and was set
    Good,         // good block, clock in step: display it
};

struct PollResult {
    PollOutcome outcome = PollOutcome::OpenFailed;
    bool showNoLink = false;  // the failure limits are passed (or the port is gone)
};

inline constexpr int kLengthFailureLimit = 3;  // more than this: no-link display and message
inline constexpr int kCrcFailureLimit = 10;    // more than this: no-link display

// Steps of a tick up to the clock check (the PC clock is read at the check itself).
// With keepClock false a device clock that is off is left alone and the block counts
// as Good.
PollResult PollDevice(bool keepClock = true);

// The device clock read as local time with the PC's daylight-saving flag, in seconds.
std::time_t DeviceClockToTime(const DeviceClockFields& clock, std::time_t now);
// The device clock minus the PC clock, in seconds; none when the device clock is damaged
// or names no time.
std::optional<long long> DeviceClockOffset(const DeviceClockFields& clock, std::time_t now);
// The seven clock bytes for a local time: s, min, h, weekday (0 = Sunday), day, month, year-2000.
std::array<uint8_t, 7> ClockBytes(std::time_t localNow);
// Whether the PC's local time at `now` fits the device clock (year 2000-2099).
bool PcClockWritable(std::time_t now);
// Opens the port and sends the PC's local time, read after the open (command 0xBB).
// False when the port would not open (the next good tick tries again) or the PC's
// time does not fit the device clock.
bool SetDeviceClock();

inline constexpr uint8_t SetClockCommand = 0xBB;

}  // namespace veresk
