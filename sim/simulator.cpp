#include "sim/simulator.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "link/codecs.h"
#include "link/crc.h"
#include "monitor/status.h"
#include "settings/parameters.h"
#include "sim/pty.h"

namespace veresk::sim {

namespace {

// The device's memories as the read commands see them.
constexpr uint8_t kRamReadCommand = 0x10;
constexpr uint8_t kArchiveReadCommand = 0x25;
constexpr int kRamSize = 512;  // status block at StatusAddress inside it

constexpr uint8_t kResetDoseCommand = 0x40;
constexpr uint8_t kFactoryCommand = 0x50;
constexpr uint8_t kEraseArchiveCommand = 0x55;
constexpr uint8_t kSetClockCommand = 0xBB;

// Detector model: pulses per second for 1 uSv/h, and the longest averaging time.
constexpr double kPulsesPerSecondPerUsvh = 50.0;
constexpr int kAveragingSeconds = 60;

constexpr double kBatteryFullMv = 4200;
constexpr double kBatteryEmptyMv = 3300;
constexpr double kRestTemperature = 21.5;

bool IsWriteCommand(uint8_t command) {
    return command == ParameterWriteCommand || command == kSetClockCommand || command == kResetDoseCommand ||
           command == kFactoryCommand || command == kEraseArchiveCommand;
}

// The device's float keeps its sign bit (temperatures can be below zero).  Values that
// the format cannot carry are stored as 0.
void PutFloat(uint8_t* p, double value) {
    if (!EncodeDeviceFloat(value, p)) {
        p[0] = p[1] = p[2] = p[3] = 0;
        return;
    }
    if (value < 0) p[0] |= 0x80;
}

// Seconds since 1970 of the local wall clock (no zone) for an epoch time.
long long WallSeconds(std::time_t epoch) {
    std::tm local{};
    localtime_r(&epoch, &local);
    return static_cast<long long>(timegm(&local));
}

std::tm WallBreakdown(long long wallSeconds) {
    const std::time_t t = static_cast<std::time_t>(wallSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
}

std::vector<uint8_t> FactoryParameters(const Options& o, uint32_t doseTime, double dose) {
    using namespace param_offset;
    std::vector<uint8_t> p(ParameterLength, 0);
    PutBE16(&p[Word0], 0x0011);
    PutBE32(&p[AccumulatedDoseTime], doseTime);
    p[FirmwareVersion] = static_cast<uint8_t>(o.firmwareVersion);
    p[BacklightTime] = 10;
    p[DisplayMode] = 0;
    p[SoundOn] = 1;
    p[DeviceLanguage] = 0;
    p[DisplayView] = 1;
    p[RateThresholdSetting] = 1;
    p[Backlight] = 1;
    const double rate[3] = {0.3, 1.2, 10};
    const double dosev[3] = {100, 1000, 10000};
    for (int i = 0; i < 3; ++i) {
        PutFloat(&p[RateThresholds + 4 * i], rate[i]);
        PutFloat(&p[DoseThresholds + 4 * i], dosev[i]);
    }
    PutFloat(&p[Float30], 1.0);
    PutFloat(&p[StoredDose], dose);
    p[DoseThresholdSetting] = 1;
    p[EditionFlags] = o.kedrEdition ? EditionBit : 0;
    return p;
}

// The threshold in force: setting 1..3 picks one of three floats (other settings count as 1).
double ThresholdInForce(const std::vector<uint8_t>& params, int settingOffset, int firstOffset) {
    int setting = params[settingOffset];
    if (setting < 1 || setting > 3) setting = 1;
    return DecodeDeviceFloat(&params[firstOffset + 4 * (setting - 1)]);
}

std::string HexText(const std::vector<uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Device

Device::Device(const Options& options) : options_(options), rng_(options.seed) {
    state_.meanDoseRate = options.meanDoseRate;
    state_.doseRate = options.meanDoseRate;
    state_.clockOffset = options.clockOffset;
    state_.parameters = FactoryParameters(options_, 0, 0);
    state_.archive.assign(kArchiveSize, 0);

    if (!options_.archiveFile.isEmpty()) {
        QFile f(options_.archiveFile);
        if (f.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = f.read(kArchiveSize);
            std::copy(bytes.begin(), bytes.end(), state_.archive.begin());
        }
        // Written up to the last record that holds anything.
        const int recordsEnd = (kArchiveSize / kRecordSize) * kRecordSize;
        for (int i = recordsEnd - 1; i >= 0; --i) {
            if (state_.archive[i] != 0) {
                state_.archiveFill = (i / kRecordSize + 1) * kRecordSize;
                break;
            }
        }
    } else if (options_.genSessions > 0 && options_.genRecords > 0) {
        const int interval = options_.recordInterval > 0 ? options_.recordInterval : 10;
        const long long today = DeviceNow() / 86400 * 86400;
        const int backwardsSession = options_.genBackwards ? options_.genSessions / 2 : -1;
        const int half = options_.genRecords / 2;
        std::normal_distribution<double> spread(1.0, 0.2);
        for (int s = 0; s < options_.genSessions; ++s) {
            const long long start = today - static_cast<long long>(options_.genSessions - s) * 86400 + 9 * 3600;
            AppendSessionMark();
            for (int r = 0; r < options_.genRecords; ++r) {
                long long t = start + static_cast<long long>(r) * interval;
                // Part-way through, the clock was put back half an hour: the record is
                // earlier than its predecessor.
                if (s == backwardsSession && half > 0 && r >= half)
                    t = start - 1800 + static_cast<long long>(r - half) * interval;
                const double rate =
                    options_.noise ? options_.meanDoseRate * std::max(0.2, spread(rng_)) : options_.meanDoseRate;
                AppendRecord(rate, t);
            }
        }
    }
    if (options_.powerOnMark) AppendSessionMark();
    secondsToRecord_ = options_.recordInterval;
}

long long Device::DeviceNow() const {
    return WallSeconds(std::time(nullptr) + static_cast<std::time_t>(state_.clockOffset));
}

void Device::AppendRecord(double doseRate, long long unixLocalSeconds) {
    if (static_cast<int>(state_.archive.size()) != kArchiveSize) state_.archive.resize(kArchiveSize, 0);
    if (state_.archiveFill < 0 || kArchiveSize - state_.archiveFill < kRecordSize) return;
    uint8_t* r = &state_.archive[state_.archiveFill];
    const std::tm tm = WallBreakdown(unixLocalSeconds);
    PutFloat(r, doseRate);
    r[4] = EncodeBcd(tm.tm_sec);
    r[5] = EncodeBcd(tm.tm_min);
    r[6] = EncodeBcd(tm.tm_hour);
    r[7] = EncodeBcd(tm.tm_mday);
    r[8] = EncodeBcd(tm.tm_mon + 1);
    r[9] = EncodeBcd(tm.tm_year + 1900 - 2000);
    state_.archiveFill += kRecordSize;
}

void Device::AppendSessionMark() {
    if (static_cast<int>(state_.archive.size()) != kArchiveSize) state_.archive.resize(kArchiveSize, 0);
    if (state_.archiveFill < 0 || kArchiveSize - state_.archiveFill < kRecordSize) return;
    std::fill_n(state_.archive.begin() + state_.archiveFill, kRecordSize, 0);
    state_.archiveFill += kRecordSize;
}

void Device::AdvanceSeconds(int n) {
    DeviceState& s = state_;
    for (int k = 0; k < n; ++k) {
        // Detector pulses of this second.
        const double lambda = std::max(0.0, s.meanDoseRate) * kPulsesPerSecondPerUsvh;
        uint32_t pulses = 0;
        if (options_.noise) {
            if (lambda > 0) pulses = static_cast<uint32_t>(std::poisson_distribution<long long>(lambda)(rng_));
        } else {
            const double t = s.runningTime;
            pulses = static_cast<uint32_t>(std::floor((t + 1) * lambda) - std::floor(t * lambda));
        }
        s.pulseCount += pulses;
        ++s.runningTime;
        ++s.measurementCount;

        // The reading: the running average of the measurement, over at most a minute.  A
        // second far outside the counting noise starts the measurement afresh.
        if (options_.noise) {
            const double expected = s.doseRate * kPulsesPerSecondPerUsvh;
            if (s.measurementTime > 1 && std::fabs(pulses - expected) > 4 * std::sqrt(std::max(expected, 1.0)) + 1)
                s.measurementTime = 0;
            if (s.measurementTime < kAveragingSeconds) ++s.measurementTime;
            const double instant = pulses / kPulsesPerSecondPerUsvh;
            s.doseRate += (instant - s.doseRate) / s.measurementTime;
        } else {
            if (s.measurementTime < kAveragingSeconds) ++s.measurementTime;
            s.doseRate = s.meanDoseRate;
        }
        const double counted = s.doseRate * kPulsesPerSecondPerUsvh * s.measurementTime;
        s.statError = counted > 1 ? std::min(100.0, 100.0 / std::sqrt(counted)) : 100.0;

        s.dose += s.doseRate / 3600.0;
        ++s.doseTime;

        if (options_.noise) {
            s.temperature += (kRestTemperature - s.temperature) * 0.002 +
                             std::normal_distribution<double>(0, 0.02)(rng_);
        }
        if (s.charging) s.batteryMv = std::min(kBatteryFullMv, s.batteryMv + 0.2);
        else s.batteryMv = std::max(kBatteryEmptyMv, s.batteryMv - 0.005);

        if (options_.recordInterval > 0 && --secondsToRecord_ <= 0) {
            AppendRecord(s.doseRate, DeviceNow());
            secondsToRecord_ = options_.recordInterval;
        }
    }
}

std::vector<uint8_t> Device::StatusBlock() const {
    using namespace status_offset;
    const DeviceState& s = state_;
    std::vector<uint8_t> params = s.parameters;
    params.resize(ParameterLength, 0);
    std::vector<uint8_t> b(StatusLength, 0);
    PutBE16(&b[MeasurementCount], s.measurementCount);
    PutFloat(&b[StatError], s.statError);
    if (s.doseRate > ThresholdInForce(params, param_offset::RateThresholdSetting, param_offset::RateThresholds))
        b[RateFlags] |= RateAboveThresholdBit;
    if (kArchiveSize - s.archiveFill < kRecordSize) b[StatusFlags] |= ArchiveFullBit;
    if (s.dose > ThresholdInForce(params, param_offset::DoseThresholdSetting, param_offset::DoseThresholds))
        b[StatusFlags] |= DoseAboveThresholdBit;
    if (s.charging) b[StatusFlags] |= ChargingBit;
    b[DoseThresholdIndex] = params[param_offset::DoseThresholdSetting];
    PutFloat(&b[Dose], s.dose);
    PutBE32(&b[RunningTime], s.runningTime);
    PutFloat(&b[Temperature], s.temperature);
    PutFloat(&b[BatteryVoltage], s.batteryMv);
    PutBE32(&b[PulseCount], s.pulseCount);
    PutBE16(&b[MeasurementTime], s.measurementTime);
    PutBE16(&b[ArchiveFill], static_cast<uint16_t>(std::clamp(s.archiveFill, 0, 0xFFFF)));
    b[RateThresholdIndex] = params[param_offset::RateThresholdSetting];
    PutFloat(&b[DoseRate], s.doseRate);
    const std::tm tm = WallBreakdown(DeviceNow());
    const int clock[7] = {tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_wday, tm.tm_mday, tm.tm_mon + 1,
                          tm.tm_year + 1900 - 2000};
    for (int i = 0; i < 7; ++i) b[DeviceClock + i] = EncodeBcd(clock[i]);
    if (s.clockBytes.size() == 7) std::copy(s.clockBytes.begin(), s.clockBytes.end(), b.begin() + DeviceClock);
    return b;
}

std::vector<uint8_t> Device::Read(uint8_t command, uint16_t length, uint16_t address) const {
    auto slice = [&](const std::vector<uint8_t>& memory) -> std::vector<uint8_t> {
        if (length == 0 || static_cast<size_t>(address) + length > memory.size()) return {};
        return {memory.begin() + address, memory.begin() + address + length};
    };
    switch (command) {
    case kRamReadCommand: {
        std::vector<uint8_t> ram(kRamSize, 0);
        const std::vector<uint8_t> status = StatusBlock();
        std::copy(status.begin(), status.end(), ram.begin() + StatusAddress);
        return slice(ram);
    }
    case ParameterReadCommand: {
        // The block carries the live dose and dose time.
        std::vector<uint8_t> p = state_.parameters;
        p.resize(ParameterLength, 0);
        PutBE32(&p[param_offset::AccumulatedDoseTime], state_.doseTime);
        PutFloat(&p[param_offset::StoredDose], state_.dose);
        return slice(p);
    }
    case kArchiveReadCommand: {
        std::vector<uint8_t> archive = state_.archive;
        archive.resize(kArchiveSize, 0);
        return slice(archive);
    }
    default:
        return {};
    }
}

void Device::Write(uint8_t command, uint16_t length, uint16_t address, const std::vector<uint8_t>& payload) {
    DeviceState& s = state_;
    switch (command) {
    case ParameterWriteCommand: {
        if (length == 0 || address + length > ParameterLength || payload.size() < length) return;
        std::vector<uint8_t> p = Read(ParameterReadCommand, ParameterLength, 0);
        std::copy_n(payload.begin(), length, p.begin() + address);
        s.parameters = p;
        // The dose and its time are kept in the block.
        s.doseTime = GetBE32(&p[param_offset::AccumulatedDoseTime]);
        s.dose = DecodeDeviceFloat(&p[param_offset::StoredDose]);
        break;
    }
    case kResetDoseCommand:
        s.dose = 0;
        s.doseTime = 0;
        break;
    case kFactoryCommand:
        s.parameters = FactoryParameters(options_, s.doseTime, s.dose);
        break;
    case kEraseArchiveCommand:
        s.archive.assign(kArchiveSize, 0);
        s.archiveFill = 0;
        break;
    case kSetClockCommand: {
        if (payload.size() < 7) return;
        std::tm tm{};
        tm.tm_sec = DecodeBcd(payload[0]);
        tm.tm_min = DecodeBcd(payload[1]);
        tm.tm_hour = DecodeBcd(payload[2]);
        tm.tm_mday = DecodeBcd(payload[4]);
        tm.tm_mon = DecodeBcd(payload[5]) - 1;
        tm.tm_year = DecodeBcd(payload[6]) + 100;
        tm.tm_isdst = -1;
        const std::time_t set = mktime(&tm);
        if (set != static_cast<std::time_t>(-1)) s.clockOffset = static_cast<long long>(set) - std::time(nullptr);
        s.clockBytes.clear();
        break;
    }
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------
// Simulator

struct Simulator::Impl {
    using Clock = std::chrono::steady_clock;

    explicit Impl(const Options& o)
        : options(o), device(o), silent(o.silent), shortBy(o.shortBy), corruptNext(o.corruptNext),
          corruptProbability(o.corruptProbability), delayMs(o.delayMs), paced(o.paced),
          faultRng(o.seed ^ 0x5EEDu) {}

    Options options;
    Device device;
    Pty pty;
    std::string slavePath;

    // Guards the device, the faults and the log.
    mutable std::mutex mu;
    mutable std::condition_variable logged;
    // Keeps answers and injected bytes from interleaving on the wire.
    std::mutex writeMu;

    std::vector<Request> requests;
    std::vector<uint8_t> raw;
    std::FILE* logFile = nullptr;

    bool silent;
    int shortBy;
    int corruptNext;
    double corruptProbability;
    int halfZeroNext = 0;
    int delayMs;
    bool paced;
    std::mt19937 faultRng;

    std::thread thread;
    std::atomic<bool> running{false};
    bool realTime = false;
    int wake[2] = {-1, -1};

    // Serving thread only: bytes received and not yet taken apart.
    std::vector<uint8_t> input;
    bool waitingForPayload = false;
    Clock::time_point payloadWaitStart;

    void Serve();
    void TakeApart();
    void HandleWrite(const Request& r, const char* note);
    void HandleRead(const Request& r);
    void Send(const std::vector<uint8_t>& answer, bool pacedAnswer);
    void Log(const Request& r, const std::string& outcome);  // with mu held
    bool SleepMs(int ms);  // false when stopped meanwhile
};

void Simulator::Impl::Log(const Request& r, const std::string& outcome) {
    requests.push_back(r);
    if (logFile) {
        const auto now = std::chrono::system_clock::now();
        const std::time_t t = std::chrono::system_clock::to_time_t(now);
        const int ms = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
        std::tm tm{};
        localtime_r(&t, &tm);
        std::fprintf(logFile, "%02d:%02d:%02d.%03d cmd %02X len %u addr %u", tm.tm_hour, tm.tm_min, tm.tm_sec, ms,
                     r.command, r.length, r.address);
        if (!r.payload.empty()) std::fprintf(logFile, " payload [%s]", HexText(r.payload).c_str());
        std::fprintf(logFile, ": %s\n", outcome.c_str());
        std::fflush(logFile);
    }
    logged.notify_all();
}

bool Simulator::Impl::SleepMs(int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (running && Clock::now() < until)
        std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(10), until - Clock::now()));
    return running;
}

void Simulator::Impl::Send(const std::vector<uint8_t>& answer, bool pacedAnswer) {
    if (answer.empty()) return;
    std::lock_guard<std::mutex> w(writeMu);
    if (!pacedAnswer) {
        WriteAll(pty.Master(), answer.data(), answer.size(), 2000);
        return;
    }
    // 57600 baud, 8N1: ten bit times a byte, 5760 bytes a second.  Each chunk goes out
    // when its last byte would have finished on a real line.
    constexpr size_t kChunk = 8;
    const auto start = Clock::now();
    for (size_t k = 0; k < answer.size() && running; k += kChunk) {
        const size_t n = std::min(kChunk, answer.size() - k);
        std::this_thread::sleep_until(start + std::chrono::microseconds((k + n) * 1000000 / 5760));
        WriteAll(pty.Master(), answer.data() + k, n, 2000);
    }
}

void Simulator::Impl::HandleWrite(const Request& r, const char* note) {
    std::lock_guard<std::mutex> lock(mu);
    if (r.payloadCrcOk) device.Write(r.command, r.length, r.address, r.payload);
    Log(r, r.payloadCrcOk ? "write taken" : note);
}

void Simulator::Impl::HandleRead(const Request& r) {
    std::vector<uint8_t> answer;
    bool pacedAnswer = false;
    int delay = 0;
    {
        std::lock_guard<std::mutex> lock(mu);
        const std::vector<uint8_t> data = device.Read(r.command, r.length, r.address);
        std::string outcome;
        if (data.empty()) {
            outcome = "no answer (not a read the device knows)";
        } else if (silent) {
            outcome = "no answer (silent)";
        } else {
            answer = data;
            const CrcRegister crc = CrcBlock(data.data(), data.size());
            answer.push_back(crc.first);
            answer.push_back(crc.second);
            if (halfZeroNext > 0) {
                --halfZeroNext;
                // Trailing bytes that leave exactly one zero residual byte.
                for (int v = 0; v < 65536; ++v) {
                    uint8_t tail[2] = {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)};
                    CrcRegister reg = crc;
                    CrcUpdate(reg, tail, 2);
                    if ((reg.first == 0) != (reg.second == 0)) {
                        answer[answer.size() - 2] = tail[0];
                        answer[answer.size() - 1] = tail[1];
                        break;
                    }
                }
                outcome += " half-zero residual";
            } else {
                bool corrupt = false;
                if (corruptNext > 0) {
                    --corruptNext;
                    corrupt = true;
                } else if (corruptProbability > 0) {
                    corrupt = std::uniform_real_distribution<double>(0, 1)(faultRng) < corruptProbability;
                }
                if (corrupt) {
                    answer[answer.size() - 2] ^= 0x5A;
                    answer[answer.size() - 1] ^= 0xA5;
                    outcome += " CRC corrupted";
                }
            }
            if (shortBy > 0) {
                answer.resize(answer.size() > static_cast<size_t>(shortBy) ? answer.size() - shortBy : 0);
                outcome += " short by " + std::to_string(shortBy);
            }
            outcome = "answered " + std::to_string(answer.size()) + " bytes" + outcome;
        }
        pacedAnswer = paced;
        delay = delayMs;
        Log(r, outcome);
    }
    if (answer.empty()) return;
    if (delay > 0 && !SleepMs(delay)) return;
    Send(answer, pacedAnswer);
}

void Simulator::Impl::TakeApart() {
    constexpr size_t kFrame = 8;  // lead-in byte and the 7-byte header
    for (;;) {
        const auto lead = std::find(input.begin(), input.end(), uint8_t{0});
        if (lead != input.begin()) {
            input.erase(input.begin(), lead);
            waitingForPayload = false;
        }
        if (input.size() < kFrame) return;
        const CrcRegister hc = CrcBlock(&input[1], 5);
        if (hc.first != input[6] || hc.second != input[7]) {
            input.erase(input.begin());  // not a header: look for the next lead-in byte
            waitingForPayload = false;
            continue;
        }
        Request r;
        r.command = input[1];
        r.length = GetBE16(&input[2]);
        r.address = GetBE16(&input[4]);
        if (!IsWriteCommand(r.command)) {
            input.erase(input.begin(), input.begin() + kFrame);
            HandleRead(r);
            continue;
        }
        if (r.length == 0) {
            input.erase(input.begin(), input.begin() + kFrame);
            HandleWrite(r, "");
            continue;
        }
        const size_t need = kFrame + r.length + 2;
        if (input.size() < need) {
            if (!waitingForPayload) {
                waitingForPayload = true;
                payloadWaitStart = Clock::now();
                return;
            }
            if (Clock::now() - payloadWaitStart < std::chrono::milliseconds(500)) return;
            // The payload never came whole: drop the header, keep looking.
            waitingForPayload = false;
            r.payload.assign(input.begin() + kFrame, input.end());
            r.payloadCrcOk = false;
            input.erase(input.begin(), input.begin() + kFrame);
            HandleWrite(r, "ignored (payload incomplete)");
            continue;
        }
        waitingForPayload = false;
        r.payload.assign(input.begin() + kFrame, input.begin() + kFrame + r.length);
        const CrcRegister pc = CrcBlock(r.payload.data(), r.payload.size());
        r.payloadCrcOk = pc.first == input[kFrame + r.length] && pc.second == input[kFrame + r.length + 1];
        input.erase(input.begin(), input.begin() + need);
        HandleWrite(r, "ignored (payload CRC wrong)");
    }
}

void Simulator::Impl::Serve() {
    auto nextTick = Clock::now() + std::chrono::seconds(1);
    uint8_t buf[4096];
    while (running) {
        int timeout = 50;
        if (realTime) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 50));
        }
        pollfd fds[2] = {{pty.Master(), POLLIN, 0}, {wake[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeout);
        if (!running) break;
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            while (::read(wake[0], buf, sizeof buf) > 0) {
            }
        }
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            for (;;) {
                const ssize_t n = ::read(pty.Master(), buf, sizeof buf);
                if (n <= 0) break;
                input.insert(input.end(), buf, buf + n);
                std::lock_guard<std::mutex> lock(mu);
                raw.insert(raw.end(), buf, buf + n);
            }
        } else if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        TakeApart();
        if (realTime && Clock::now() >= nextTick) {
            const auto behind = Clock::now() - nextTick;
            const int n = 1 + static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(behind).count());
            {
                std::lock_guard<std::mutex> lock(mu);
                device.AdvanceSeconds(n);
            }
            nextTick += std::chrono::seconds(n);
        }
    }
}

Simulator::Simulator(const Options& options) : impl_(std::make_unique<Impl>(options)) {}

Simulator::~Simulator() { Stop(); }

bool Simulator::Start(bool realTime) {
    Impl& d = *impl_;
    if (d.running) return true;
    if (!d.pty.Open()) return false;
    if (::pipe2(d.wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        d.pty.Close();
        return false;
    }
    d.slavePath = d.pty.SlavePath();
    if (!d.options.logFile.isEmpty()) d.logFile = std::fopen(QFile::encodeName(d.options.logFile).constData(), "a");
    d.input.clear();
    d.waitingForPayload = false;
    d.realTime = realTime;
    d.running = true;
    d.thread = std::thread([&d] { d.Serve(); });
    return true;
}

void Simulator::Stop() {
    Impl& d = *impl_;
    if (!d.thread.joinable()) return;
    d.running = false;
    const uint8_t b = 1;
    [[maybe_unused]] const ssize_t w = ::write(d.wake[1], &b, 1);
    d.thread.join();
    std::lock_guard<std::mutex> wlock(d.writeMu);
    d.pty.Close();
    ::close(d.wake[0]);
    ::close(d.wake[1]);
    d.wake[0] = d.wake[1] = -1;
    std::lock_guard<std::mutex> lock(d.mu);
    if (d.logFile) std::fclose(d.logFile);
    d.logFile = nullptr;
}

QString Simulator::SlavePath() const { return QString::fromStdString(impl_->slavePath); }

bool Simulator::LinkAs(const QString& folder, int comNumber) const {
    if (impl_->slavePath.empty() || !QDir().mkpath(folder)) return false;
    const QByteArray link = QFile::encodeName(folder + QStringLiteral("/COM%1").arg(comNumber));
    ::unlink(link.constData());
    return ::symlink(impl_->slavePath.c_str(), link.constData()) == 0;
}

void Simulator::WithDevice(const std::function<void(Device&)>& f) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    f(impl_->device);
}

void Simulator::AdvanceSeconds(int n) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->device.AdvanceSeconds(n);
}

void Simulator::SetSilent(bool on) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->silent = on;
}

void Simulator::SetShortBy(int k) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->shortBy = std::max(0, k);
}

void Simulator::CorruptNextCrc(int k) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->corruptNext = std::max(0, k);
}

void Simulator::SetCorruptProbability(double p) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->corruptProbability = std::clamp(p, 0.0, 1.0);
}

void Simulator::HalfZeroResidualNext(int k) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->halfZeroNext = std::max(0, k);
}

void Simulator::SetDelayMs(int ms) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->delayMs = std::max(0, ms);
}

void Simulator::SetPaced(bool on) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->paced = on;
}

void Simulator::InjectToHost(const std::vector<uint8_t>& bytes) {
    Impl& d = *impl_;
    std::lock_guard<std::mutex> w(d.writeMu);
    if (d.pty.IsOpen()) WriteAll(d.pty.Master(), bytes.data(), bytes.size(), 2000);
}

std::vector<Request> Simulator::Requests() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->requests;
}

std::vector<uint8_t> Simulator::RawReceived() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->raw;
}

void Simulator::ClearLog() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->requests.clear();
    impl_->raw.clear();
}

bool Simulator::WaitForRequests(size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->logged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return impl_->requests.size() >= n; });
}

}  // namespace veresk::sim
