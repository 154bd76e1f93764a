#pragma once
// The dosimeter simulator: a believable РДТ-17 behind a pseudo-terminal.
//
// Device is the model (memory, measurements, clock, commands) with no I/O.
// Simulator serves a Device on a pty from a thread of its own, with the protocol of the
// real device: it waits for the lead-in byte 0x00 and a 7-byte header with a valid CRC
// (resynchronising on anything else), answers a read with the data and its CRC, and
// takes a write's payload and CRC (a payload whose CRC is wrong is ignored).
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

namespace veresk::sim {

inline constexpr int kArchiveSize = 32768;
inline constexpr int kRecordSize = 10;

struct Options {
    double meanDoseRate = 0.12;  // uSv/h
    bool noise = true;           // counting noise around the mean
    int recordInterval = 10;     // seconds between archive records
    int firmwareVersion = 7;
    bool kedrEdition = false;    // edition bit (parameter byte 63, mask 0x04)
    long long clockOffset = 0;   // device clock minus PC clock, seconds
    uint32_t seed = 1;
    // Preloaded archive: a raw 32768-byte image from a file, or generated sessions.
    QString archiveFile;
    int genSessions = 0;
    int genRecords = 0;
    bool genBackwards = false;   // one generated session whose times go backwards
    bool powerOnMark = true;     // a new power-on session starts with a SessionMark
    // Faults and timing.
    bool silent = false;
    int shortBy = 0;             // answers short by k bytes
    int corruptNext = 0;         // corrupt the CRC of the next k answers
    double corruptProbability = 0;
    int delayMs = 0;             // added before every answer
    bool paced = false;          // answer at the real byte time of 57600 baud
    QString logFile;             // one line per request received
};

struct Request {
    uint8_t command = 0;
    uint16_t length = 0;
    uint16_t address = 0;
    std::vector<uint8_t> payload;  // write payload (without CRC)
    bool payloadCrcOk = true;
};

// The device's own state; tests may set any field through Simulator::WithDevice.
struct DeviceState {
    double meanDoseRate = 0.12;    // uSv/h, the level the readings move around
    double doseRate = 0.12;        // uSv/h, current reading
    double dose = 0;               // uSv
    double statError = 15;         // percent
    double temperature = 21.5;
    double batteryMv = 3900;
    bool charging = false;
    uint32_t runningTime = 0;      // s
    uint32_t pulseCount = 0;
    uint16_t measurementCount = 0;
    uint16_t measurementTime = 0;  // s
    uint32_t doseTime = 0;         // accumulated dose time, s (parameter block offset 6)
    std::vector<uint8_t> parameters;  // 66 bytes
    std::vector<uint8_t> archive;     // 32768 bytes
    int archiveFill = 0;              // bytes written
    long long clockOffset = 0;        // device clock minus PC clock, seconds
    // A damaged clock: when it holds 7 bytes, the status block carries them as they are
    // instead of the running clock, until the clock is next set.
    std::vector<uint8_t> clockBytes;
};

class Device {
public:
    explicit Device(const Options& options = {});
    DeviceState& State() { return state_; }

    // n seconds of device life: readings, dose, counters, archive records.
    void AdvanceSeconds(int n);
    // The data of a read (without CRC); empty for a request the device does not answer.
    std::vector<uint8_t> Read(uint8_t command, uint16_t length, uint16_t address) const;
    // A write command with its payload.
    void Write(uint8_t command, uint16_t length, uint16_t address, const std::vector<uint8_t>& payload);

    std::vector<uint8_t> StatusBlock() const;  // 69 bytes, as at address 117
    // Appends one archive record (dose rate and the device clock's time) or a SessionMark.
    void AppendRecord(double doseRate, long long unixLocalSeconds);
    void AppendSessionMark();
    long long DeviceNow() const;  // device clock as seconds since 1970 of its local wall clock

private:
    Options options_;
    DeviceState state_;
    mutable std::mt19937 rng_;
    int secondsToRecord_ = 0;
};

class Simulator {
public:
    explicit Simulator(const Options& options = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pty and starts serving.  With realTime the device lives second by
    // second on the wall clock; without it only AdvanceSeconds moves it (tests).
    bool Start(bool realTime = true);
    void Stop();
    QString SlavePath() const;
    // Makes `folder`/COMn a symlink to the pty (creating the folder).
    bool LinkAs(const QString& folder, int comNumber) const;

    // Runs f with the device locked.
    void WithDevice(const std::function<void(Device&)>& f);
    void AdvanceSeconds(int n);

    // Faults, effective from the next answer.
    void SetSilent(bool on);
    void SetShortBy(int k);
    void CorruptNextCrc(int k);
    void SetCorruptProbability(double p);
    // The next k answers arrive at full length with CRC bytes chosen so that exactly one
    // residual byte is zero.
    void HalfZeroResidualNext(int k);
    void SetDelayMs(int ms);
    void SetPaced(bool on);
    // Writes bytes towards the host at once, unasked (stale input for purge tests).
    void InjectToHost(const std::vector<uint8_t>& bytes);

    // What went over the wire.
    std::vector<Request> Requests() const;
    std::vector<uint8_t> RawReceived() const;
    void ClearLog();
    // Waits until at least n requests have been logged (or the timeout passes).
    bool WaitForRequests(size_t n, int timeoutMs) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace veresk::sim
