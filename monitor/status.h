#pragma once
// The 69-byte status block (command 0x10, address 117) and the polling state.
#include <cstdint>

namespace veresk {

inline constexpr uint8_t StatusCommand = 0x10;
inline constexpr uint16_t StatusLength = 69;
inline constexpr uint16_t StatusAddress = 117;

// Offsets within the status block.
namespace status_offset {
inline constexpr int MeasurementCount = 0;    // BE16
inline constexpr int StatError = 2;           // float
inline constexpr int RateFlags = 6;           // bit 2: dose rate above threshold
inline constexpr int StatusFlags = 13;        // bit 1 archive full, bit 2 dose above threshold, bit 5 charging
inline constexpr int DoseThresholdIndex = 14;
inline constexpr int Dose = 16;               // float, uSv
inline constexpr int RunningTime = 20;        // BE32, s
inline constexpr int Temperature = 24;        // float
inline constexpr int BatteryVoltage = 28;     // float, mV
inline constexpr int PulseCount = 34;         // BE32
inline constexpr int MeasurementTime = 39;    // BE16, s
inline constexpr int ArchiveFill = 55;        // BE16, bytes written
inline constexpr int RateThresholdIndex = 57;
inline constexpr int DoseRate = 58;           // float, uSv/h
inline constexpr int DeviceClock = 62;        // 7 BCD: s, min, h, weekday, day, month, year-2000
}  // namespace status_offset

inline constexpr uint8_t RateAboveThresholdBit = 0x04;  // RateFlags
inline constexpr uint8_t ArchiveFullBit = 0x02;         // StatusFlags
inline constexpr uint8_t DoseAboveThresholdBit = 0x04;  // StatusFlags
inline constexpr uint8_t ChargingBit = 0x20;            // StatusFlags

struct DeviceClockFields {
    int second = 0, minute = 0, hour = 0, weekday = 0, day = 0, month = 0, year = 0;  // year within the century
    // Every field the clock check uses is a valid BCD number in its range and the day
    // exists in its month; a clock that is not counts as off.
    bool valid = false;
};

// Whether the seven clock bytes (s, min, h, weekday, day, month, year-2000) hold a real
// date and time: each of second, minute, hour, day, month and year is packed BCD with
// both digits 0-9, within 0-59, 0-59, 0-23, 1-31, 1-12, 00-99, and the day exists in
// that month of 2000 + year.  The weekday is not judged (the clock check ignores it).
bool DeviceClockBytesValid(const uint8_t* clock);

struct LiveStatusValues {
    uint16_t MeasurementCount = 0;
    float StatError = 0;
    uint8_t RateFlags = 0;
    uint8_t StatusFlags = 0;
    uint8_t DoseThresholdIndex = 0;
    float Dose = 0;
    uint32_t RunningTime = 0;
    float Temperature = 0;
    float BatteryVoltage = 0;
    uint32_t PulseCount = 0;
    uint16_t MeasurementTime = 0;
    int ArchiveFill = 0;  // record count: bytes written / 10
    uint8_t RateThresholdIndex = 0;
    float DoseRate = 0;
    DeviceClockFields DeviceClock;
};

// Decodes a status block (69 bytes) into the values.
LiveStatusValues DecodeStatusBlock(const uint8_t* block);

struct PollingState {
    LiveStatusValues LiveStatus;  // last good block; kept while the link is down
    bool StatusFresh = false;     // a block was decoded since the last write-back
    double MaxDoseRate = 0;       // highest dose rate since the main window was shown
    int LastArchiveFill = 0;      // record count seen by the previous displayed tick
    bool NewRecordPending = false;
};

extern PollingState Polling;
void ResetPollingState();

}  // namespace veresk
