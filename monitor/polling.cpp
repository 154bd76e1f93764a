#include "monitor/polling.h"

#include <cstdlib>

#include "link/codecs.h"
#include "link/link.h"
#include "monitor/clock.h"

namespace veresk {

namespace {

std::tm LocalBreakdown(std::time_t t) {
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return tm;
}

}  // namespace

std::time_t DeviceClockToTime(const DeviceClockFields& c, std::time_t now) {
    std::tm tm = LocalBreakdown(now);  // keeps the PC's daylight-saving flag
    tm.tm_sec = c.second;
    tm.tm_min = c.minute;
    tm.tm_hour = c.hour;
    tm.tm_mday = c.day;
    tm.tm_mon = c.month - 1;
    tm.tm_year = c.year + 2000 - 1900;
    return std::mktime(&tm);
}

std::array<uint8_t, 7> ClockBytes(std::time_t localNow) {
    const std::tm tm = LocalBreakdown(localNow);
    return {EncodeBcd(tm.tm_sec), EncodeBcd(tm.tm_min), EncodeBcd(tm.tm_hour), EncodeBcd(tm.tm_wday),
            EncodeBcd(tm.tm_mday), EncodeBcd(tm.tm_mon + 1), EncodeBcd(tm.tm_year + 1900 - 2000)};
}

bool PcClockWritable(std::time_t now) {
    const int year = LocalBreakdown(now).tm_year + 1900;
    return year >= 2000 && year <= 2099;
}

bool SetDeviceClock() {
    if (OpenDevicePort() == nullptr) return false;
    const std::time_t now = PcNow();
    if (!PcClockWritable(now)) return false;  // the device's year byte cannot hold it
    const auto bytes = ClockBytes(now);
    std::copy(bytes.begin(), bytes.end(), Link.IoBuffer.begin());
    WriteTransaction(SetClockCommand, 7, 0);
    return true;
}

std::optional<long long> DeviceClockOffset(const DeviceClockFields& clock, std::time_t now) {
    // A damaged clock would be normalised into some real time by the conversion.
    if (!clock.valid) return std::nullopt;
    const std::time_t device = DeviceClockToTime(clock, now);
    if (device == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<long long>(device) - static_cast<long long>(now);
}

PollResult PollDevice(bool keepClock) {
    PollResult r;
    if (OpenDevicePort() == nullptr) {
        r.outcome = PollOutcome::OpenFailed;
        r.showNoLink = true;
        return r;
    }
    std::fill_n(Link.IoBuffer.begin(), 1000, 0);
    ReadTransaction(StatusCommand, StatusLength, StatusAddress);
    switch (JudgeAnswer(StatusLength)) {
    case AnswerVerdict::WrongLength:
        ++Link.LinkErrorCount;
        r.outcome = PollOutcome::WrongLength;
        r.showNoLink = Link.LinkErrorCount > kLengthFailureLimit;
        return r;
    case AnswerVerdict::CrcFailure:
        ++Link.LinkErrorCount;
        r.outcome = PollOutcome::CrcFailure;
        r.showNoLink = Link.LinkErrorCount > kCrcFailureLimit;
        return r;
    case AnswerVerdict::Good:
        break;
    }
    Link.LinkErrorCount = 0;
    Polling.LiveStatus = DecodeStatusBlock(Link.IoBuffer.data());
    Polling.StatusFresh = true;

    // A PC time the device clock cannot hold (a year outside 2000-2099) is not written:
    // the values are shown as on a tick whose clock check passed.
    const std::time_t now = PcNow();
    if (!PcClockWritable(now)) {
        r.outcome = PollOutcome::Good;
        return r;
    }
    const std::optional<long long> off = DeviceClockOffset(Polling.LiveStatus.DeviceClock, now);
    if (keepClock && (!off || std::llabs(*off) >= 6)) {
        SetDeviceClock();
        r.outcome = PollOutcome::ClockSet;
        return r;
    }
    r.outcome = PollOutcome::Good;
    return r;
}

}  // namespace veresk

