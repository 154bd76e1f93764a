#include "monitor/status.h"

#include <algorithm>
#include <limits>

#include "link/codecs.h"

namespace veresk {

PollingState Polling;

void ResetPollingState() { Polling = PollingState{}; }

namespace {

// The values are kept in single precision; an exponent of 255 decodes beyond the float
// range and is kept as the largest float rather than an infinity.
float FloatAt(const uint8_t* block, int offset) {
    constexpr double top = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(DecodeDeviceFloat(block + offset), -top, top));
}

}  // namespace

bool DeviceClockBytesValid(const uint8_t* c) { return BcdDateTimeValid(c[0], c[1], c[2], c[4], c[5], c[6]); }

LiveStatusValues DecodeStatusBlock(const uint8_t* block) {
    namespace o = status_offset;
    LiveStatusValues s;
    s.MeasurementCount = GetBE16(block + o::MeasurementCount);
    s.StatError = FloatAt(block, o::StatError);
    s.RateFlags = block[o::RateFlags];
    s.StatusFlags = block[o::StatusFlags];
    s.DoseThresholdIndex = block[o::DoseThresholdIndex];
    s.Dose = FloatAt(block, o::Dose);
    s.RunningTime = GetBE32(block + o::RunningTime);
    s.Temperature = FloatAt(block, o::Temperature);
    s.BatteryVoltage = FloatAt(block, o::BatteryVoltage);
    s.PulseCount = GetBE32(block + o::PulseCount);
    s.MeasurementTime = GetBE16(block + o::MeasurementTime);
    s.ArchiveFill = GetBE16(block + o::ArchiveFill) / 10;
    s.RateThresholdIndex = block[o::RateThresholdIndex];
    s.DoseRate = FloatAt(block, o::DoseRate);
    const uint8_t* clock = block + o::DeviceClock;
    s.DeviceClock.second = DecodeBcd(clock[0]);
    s.DeviceClock.minute = DecodeBcd(clock[1]);
    s.DeviceClock.hour = DecodeBcd(clock[2]);
    s.DeviceClock.weekday = DecodeBcd(clock[3]);
    s.DeviceClock.day = DecodeBcd(clock[4]);
    s.DeviceClock.month = DecodeBcd(clock[5]);
    s.DeviceClock.year = DecodeBcd(clock[6]);
    s.DeviceClock.valid = DeviceClockBytesValid(clock);
    return s;
}

}  // namespace veresk
