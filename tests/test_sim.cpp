// The simulator, tested as the host sees it: over its own pseudo-terminal, opened here
// with plain POSIX calls, and through the Device model directly.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "link/codecs.h"
#include "link/crc.h"
#include "monitor/status.h"
#include "settings/parameters.h"
#include "sim/simulator.h"
#include "support/test_support.h"

namespace veresk {
namespace {

using sim::Device;
using sim::Options;
using sim::Simulator;
using testing::Hex;
using Bytes = std::vector<uint8_t>;

// A request on the wire: lead-in byte, header and its CRC, and for a write the payload
// and its CRC (spoiled on request).
Bytes Frame(uint8_t command, uint16_t length, uint16_t address, const Bytes& payload = {}, bool goodCrc = true) {
    Bytes f = {0x00, command, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
               static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    const CrcRegister h = CrcBlock(f.data() + 1, 5);
    f.push_back(h.first);
    f.push_back(h.second);
    if (!payload.empty()) {
        f.insert(f.end(), payload.begin(), payload.end());
        const CrcRegister p = CrcBlock(payload.data(), payload.size());
        f.push_back(goodCrc ? p.first : static_cast<uint8_t>(p.first ^ 0x01));
        f.push_back(p.second);
    }
    return f;
}

const Bytes kStatusFrame = Frame(StatusCommand, StatusLength, StatusAddress);
const Bytes kProbeFrame = Frame(StatusCommand, 20, 128);
const Bytes kParamFrame = Frame(ParameterReadCommand, ParameterLength, ParameterAddress);

CrcRegister Residual(const Bytes& answer) { return CrcBlock(answer.data(), answer.size()); }

// The host's end of the cable: the pty slave in raw mode.
class Host {
public:
    explicit Host(const QString& path) {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) return;
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, B57600);
        cfsetospeed(&t, B57600);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~Host() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Ok() const { return fd_ >= 0; }

    void Send(const Bytes& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += static_cast<size_t>(n);
            else {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 20);
            }
        }
    }
    // Up to n bytes, whatever has arrived when timeoutMs has passed.
    Bytes Receive(size_t n, int timeoutMs = 3000) {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            uint8_t buf[4096];
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
            if (r > 0) out.insert(out.end(), buf, buf + r);
        }
        return out;
    }
    Bytes Exchange(const Bytes& frame, size_t answerSize) {
        Send(frame);
        return Receive(answerSize);
    }

private:
    int fd_ = -1;
};

// A started simulator (device time moved only by the test) and a host on its pty.
class SimOverPty : public ::testing::Test {
protected:
    void Begin(const Options& o = NoNoise()) {
        sim_ = std::make_unique<Simulator>(o);
        ASSERT_TRUE(sim_->Start(false));
        host_ = std::make_unique<Host>(sim_->SlavePath());
        ASSERT_TRUE(host_->Ok());
    }
    static Options NoNoise() {
        Options o;
        o.noise = false;
        return o;
    }
    Simulator& S() { return *sim_; }
    Host& H() { return *host_; }
    Bytes DeviceRead(uint8_t command, uint16_t length, uint16_t address) {
        Bytes data;
        S().WithDevice([&](Device& d) { data = d.Read(command, length, address); });
        return data;
    }
    Bytes WithCrc(Bytes data) {
        const CrcRegister c = CrcBlock(data.data(), data.size());
        data.push_back(c.first);
        data.push_back(c.second);
        return data;
    }

    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<Host> host_;
};

long long WallNow() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return static_cast<long long>(timegm(&local));
}

// Record or clock BCD fields (second, minute, hour, day, month, year) as wall seconds.
long long WallOf(int second, int minute, int hour, int day, int month, int year) {
    std::tm tm{};
    tm.tm_sec = second;
    tm.tm_min = minute;
    tm.tm_hour = hour;
    tm.tm_mday = day;
    tm.tm_mon = month - 1;
    tm.tm_year = year + 100;
    return static_cast<long long>(timegm(&tm));
}

long long RecordTime(const uint8_t* r) {
    return WallOf(DecodeBcd(r[4]), DecodeBcd(r[5]), DecodeBcd(r[6]), DecodeBcd(r[7]), DecodeBcd(r[8]),
                  DecodeBcd(r[9]));
}

bool IsMark(const uint8_t* r) { return std::all_of(r, r + sim::kRecordSize, [](uint8_t b) { return b == 0; }); }

// ---------------------------------------------------------------------------------------

TEST_F(SimOverPty, StatusReadCarriesTheDeviceState) {
    Options o = NoNoise();
    o.clockOffset = 3600;
    Begin(o);
    S().WithDevice([](Device& d) {
        auto& s = d.State();
        s.measurementCount = 4321;
        s.statError = 7.5;
        s.doseRate = 2.5;  // above rate threshold 2 (1.2)
        s.dose = 123.25;   // below dose threshold 3 (10000)
        s.runningTime = 86400 + 17;
        s.temperature = -4.25;
        s.batteryMv = 3812;
        s.charging = true;
        s.pulseCount = 0x01020304;
        s.measurementTime = 42;
        s.archiveFill = 1230;
        s.parameters[param_offset::RateThresholdSetting] = 2;
        s.parameters[param_offset::DoseThresholdSetting] = 3;
    });
    // The header exactly as the host puts it on the wire.
    ASSERT_EQ(Hex(kStatusFrame), "00 10 00 45 00 75 35 F1");
    const Bytes a = H().Exchange(kStatusFrame, 71);
    ASSERT_EQ(a.size(), 71u);
    EXPECT_TRUE(Residual(a).Zero());

    using namespace status_offset;
    const uint8_t* b = a.data();
    EXPECT_EQ(GetBE16(b + MeasurementCount), 4321);
    EXPECT_DOUBLE_EQ(DecodeDeviceFloat(b + StatError), 7.5);
    EXPECT_EQ(b[RateFlags] & RateAboveThresholdBit, RateAboveThresholdBit);
    EXPECT_EQ(b[StatusFlags], ChargingBit);
    EXPECT_EQ(b[DoseThresholdIndex], 3);
    EXPECT_EQ(b[RateThresholdIndex], 2);
    EXPECT_DOUBLE_EQ(DecodeDeviceFloat(b + Dose), 123.25);
    EXPECT_EQ(GetBE32(b + RunningTime), 86417u);
    EXPECT_DOUBLE_EQ(DecodeDeviceFloat(b + Temperature), -4.25);
    EXPECT_DOUBLE_EQ(DecodeDeviceFloat(b + BatteryVoltage), 3812);
    EXPECT_EQ(GetBE32(b + PulseCount), 0x01020304u);
    EXPECT_EQ(GetBE16(b + MeasurementTime), 42);
    EXPECT_EQ(GetBE16(b + ArchiveFill), 1230);
    EXPECT_DOUBLE_EQ(DecodeDeviceFloat(b + DoseRate), 2.5);

    // The clock runs an hour ahead of the PC, weekday 0 = Sunday.
    const uint8_t* c = b + DeviceClock;
    const long long clock = WallOf(DecodeBcd(c[0]), DecodeBcd(c[1]), DecodeBcd(c[2]), DecodeBcd(c[4]),
                                   DecodeBcd(c[5]), DecodeBcd(c[6]));
    EXPECT_NEAR(static_cast<double>(clock - WallNow()), 3600, 2);
    const std::time_t ct = static_cast<std::time_t>(clock);
    std::tm tm{};
    gmtime_r(&ct, &tm);
    EXPECT_EQ(DecodeBcd(c[3]), tm.tm_wday);

    // The probe reads the same memory: status bytes 11..30.
    const Bytes probe = H().Exchange(kProbeFrame, 22);
    ASSERT_EQ(probe.size(), 22u);
    EXPECT_TRUE(Residual(probe).Zero());
    EXPECT_EQ(Hex(probe.data(), 20), Hex(a.data() + 11, 20));
}

TEST(SimDevice, ThresholdFlagsFollowTheSettingsInForce) {
    struct Case {
        uint8_t rateSetting;
        double doseRate;
        uint8_t doseSetting;
        double dose;
        bool rateAbove, doseAbove;
    };
    // Factory thresholds: 0.3 / 1.2 / 10 uSv/h and 100 / 1000 / 10000 uSv.
    const Case cases[] = {
        {1, 0.31, 1, 100.5, true, true},   {1, 0.29, 1, 99.5, false, false}, {2, 1.1, 2, 999, false, false},
        {2, 1.3, 2, 1001, true, true},     {3, 9.9, 3, 9999, false, false},  {3, 10.5, 3, 10001, true, true},
        {3, 1.3, 1, 150, false, true},
    };
    for (const Case& k : cases) {
        Options o;
        o.noise = false;
        Device d(o);
        d.State().parameters[param_offset::RateThresholdSetting] = k.rateSetting;
        d.State().parameters[param_offset::DoseThresholdSetting] = k.doseSetting;
        d.State().doseRate = k.doseRate;
        d.State().dose = k.dose;
        const Bytes b = d.StatusBlock();
        ASSERT_EQ(b.size(), 69u);
        EXPECT_EQ((b[status_offset::RateFlags] & RateAboveThresholdBit) != 0, k.rateAbove) << k.doseRate;
        EXPECT_EQ((b[status_offset::StatusFlags] & DoseAboveThresholdBit) != 0, k.doseAbove) << k.dose;
        EXPECT_EQ(b[status_offset::RateThresholdIndex], k.rateSetting);
        EXPECT_EQ(b[status_offset::DoseThresholdIndex], k.doseSetting);
    }
}

TEST_F(SimOverPty, ReadsAreAnsweredOnlyInsideTheirMemory) {
    Options o = NoNoise();
    o.genSessions = 40;  // enough records to reach the last archive block
    o.genRecords = 80;
    Begin(o);
    struct Case {
        uint8_t command;
        uint16_t length, address;
        bool answered;
    };
    const Case cases[] = {
        {0x10, 20, 128, true},       {0x10, 69, 117, true},         {0x10, 4, 0, true},
        {0x30, 66, 0, true},         {0x25, 2048, 0, true},         {0x25, 2048, 30720, true},
        {0x25, 2048, 32000, false},  {0x10, 600, 0, false},         {0x30, 67, 0, false},
        {0x25, 0, 0, false},         {0x77, 4, 0, false},
    };
    const Bytes sentinel = WithCrc(DeviceRead(0x30, 66, 0));
    for (const Case& k : cases) {
        const Bytes expected = k.answered ? WithCrc(DeviceRead(k.command, k.length, k.address)) : Bytes{};
        if (k.answered) {
            ASSERT_EQ(expected.size(), k.length + 2u);
        }
        // A parameter read right behind it: whatever the device said to the first
        // request arrives before the sentinel's answer.
        H().Send(Frame(k.command, k.length, k.address));
        H().Send(kParamFrame);
        const Bytes got = H().Receive(expected.size() + sentinel.size());
        ASSERT_EQ(got.size(), expected.size() + sentinel.size()) << int(k.command) << " " << k.address;
        const size_t n = expected.size();
        if (k.command != 0x10) {  // status blocks carry the running clock
            EXPECT_EQ(Hex(Bytes(got.begin(), got.begin() + n)), Hex(expected)) << int(k.command);
        }
        if (n) {
            EXPECT_TRUE(Residual(Bytes(got.begin(), got.begin() + n)).Zero());
        }
        EXPECT_EQ(Hex(Bytes(got.begin() + n, got.end())), Hex(sentinel)) << int(k.command) << " " << k.address;
    }
    // The last archive block holds records.
    const Bytes last = DeviceRead(0x25, 2048, 30720);
    EXPECT_TRUE(std::any_of(last.begin(), last.end(), [](uint8_t b) { return b != 0; }));
}

TEST_F(SimOverPty, ResynchronisesAfterGarbage) {
    Begin();
    const Bytes longGarbage = {0xFF, 0x12, 0x00, 0x00, 0x10, 0x00, 0x45, 0x00, 0x75, 0x35, 0xF2,  // CRC off by one
                               0x00, 0x10, 0x00, 0x14,                                            // torn header
                               0x00, 0x13, 0x37, 0x00};
    Bytes longer = longGarbage;
    longer.insert(longer.end(), {0x00, 0x00});
    const Bytes cases[] = {{}, {0x00}, {0x00, 0x00, 0x00}, {0x10, 0x00, 0x45}, longGarbage, longer};
    for (const Bytes& garbage : cases) {
        SCOPED_TRACE(Hex(garbage));
        S().ClearLog();
        H().Send(garbage);
        H().Send(kProbeFrame);
        const Bytes a = H().Receive(22);
        ASSERT_EQ(a.size(), 22u);
        EXPECT_TRUE(Residual(a).Zero());
        ASSERT_TRUE(S().WaitForRequests(1, 2000));
        const auto requests = S().Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].command, 0x10);
        EXPECT_EQ(requests[0].length, 20);
        EXPECT_EQ(requests[0].address, 128);
        Bytes all = garbage;
        all.insert(all.end(), kProbeFrame.begin(), kProbeFrame.end());
        EXPECT_EQ(Hex(S().RawReceived()), Hex(all));
    }
}

TEST_F(SimOverPty, ParameterWriteNeedsItsCrcAndIsReadBack) {
    Begin();
    const Bytes factory = H().Exchange(kParamFrame, 68);
    ASSERT_EQ(factory.size(), 68u);
    ASSERT_TRUE(Residual(factory).Zero());

    Bytes block(factory.begin(), factory.begin() + 66);
    block[param_offset::FirmwareVersion] = 99;
    block[param_offset::RateThresholdSetting] = 3;
    block[param_offset::DoseThresholdSetting] = 2;
    PutBE32(&block[param_offset::AccumulatedDoseTime], 777);
    ASSERT_TRUE(EncodeDeviceFloat(12.5, &block[param_offset::StoredDose]));
    ASSERT_TRUE(EncodeDeviceFloat(0.05, &block[param_offset::RateThresholds + 8]));

    // A spoiled payload CRC: logged, not taken.
    H().Send(Frame(ParameterWriteCommand, 66, 0, block, false));
    ASSERT_TRUE(S().WaitForRequests(2, 2000));
    EXPECT_EQ(S().Requests()[1].command, ParameterWriteCommand);
    EXPECT_FALSE(S().Requests()[1].payloadCrcOk);
    EXPECT_EQ(Hex(S().Requests()[1].payload), Hex(block));
    EXPECT_EQ(Hex(H().Exchange(kParamFrame, 68)), Hex(factory));

    H().Send(Frame(ParameterWriteCommand, 66, 0, block));
    ASSERT_TRUE(S().WaitForRequests(4, 2000));
    EXPECT_TRUE(S().Requests()[3].payloadCrcOk);
    EXPECT_EQ(Hex(H().Exchange(kParamFrame, 68)), Hex(WithCrc(block)));
    S().WithDevice([](Device& d) {
        EXPECT_EQ(d.State().doseTime, 777u);
        EXPECT_DOUBLE_EQ(d.State().dose, 12.5);
    });
    // The settings in force follow the block: rate threshold 3 is now 0.05 uSv/h.
    const Bytes status = H().Exchange(kStatusFrame, 71);
    ASSERT_EQ(status.size(), 71u);
    EXPECT_EQ(status[status_offset::RateThresholdIndex], 3);
    EXPECT_EQ(status[status_offset::DoseThresholdIndex], 2);
    EXPECT_EQ(status[status_offset::RateFlags] & RateAboveThresholdBit, RateAboveThresholdBit);
}

TEST_F(SimOverPty, OneShotCommandsTakeEffect) {
    Options o = NoNoise();
    o.recordInterval = 10;
    Begin(o);
    // Local time two hours ahead, as the host would send it.
    const std::time_t ahead = std::time(nullptr) + 7200;
    std::tm lt{};
    localtime_r(&ahead, &lt);
    const Bytes clock = {EncodeBcd(lt.tm_sec),  EncodeBcd(lt.tm_min),     EncodeBcd(lt.tm_hour),
                         EncodeBcd(lt.tm_wday), EncodeBcd(lt.tm_mday),    EncodeBcd(lt.tm_mon + 1),
                         EncodeBcd(lt.tm_year - 100)};
    struct Case {
        const char* name;
        Bytes frame;
        std::function<void(Device&)> before;
        std::function<void(Device&)> after;
    };
    const Case cases[] = {
        {"reset dose", Frame(0x40, 0, 0),
         [](Device& d) {
             d.State().dose = 50;
             d.State().doseTime = 1000;
         },
         [](Device& d) {
             EXPECT_EQ(d.State().dose, 0);
             EXPECT_EQ(d.State().doseTime, 0u);
             EXPECT_EQ(GetBE32(&d.Read(0x30, 66, 0)[param_offset::AccumulatedDoseTime]), 0u);
         }},
        {"erase archive", Frame(0x55, 0, 0),
         [](Device& d) {
             d.AdvanceSeconds(30);
             ASSERT_EQ(d.State().archiveFill, 40);
         },
         [](Device& d) {
             EXPECT_EQ(d.State().archiveFill, 0);
             const Bytes block = d.Read(0x25, 2048, 0);
             EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; }));
             EXPECT_EQ(GetBE16(&d.StatusBlock()[status_offset::ArchiveFill]), 0);
         }},
        {"factory settings", Frame(0x50, 0, 0),
         [](Device& d) {
             d.State().parameters[param_offset::BacklightTime] = 180;
             d.State().parameters[param_offset::RateThresholdSetting] = 3;
         },
         [](Device& d) {
             EXPECT_EQ(d.State().parameters[param_offset::BacklightTime], 10);
             EXPECT_EQ(d.State().parameters[param_offset::RateThresholdSetting], 1);
         }},
        {"set clock", Frame(0xBB, 7, 0, clock), [](Device& d) { ASSERT_EQ(d.State().clockOffset, 0); },
         [](Device& d) {
             EXPECT_NEAR(static_cast<double>(d.State().clockOffset), 7200, 2);
             EXPECT_NEAR(static_cast<double>(d.DeviceNow() - WallNow()), 7200, 2);
         }},
    };
    size_t count = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        S().WithDevice(k.before);
        H().Send(k.frame);
        ASSERT_TRUE(S().WaitForRequests(++count, 2000));
        EXPECT_TRUE(S().Requests().back().payloadCrcOk);
        S().WithDevice(k.after);
    }
}

TEST(SimDevice, RecordsAreAppendedAtTheIntervalUntilTheMemoryIsFull) {
    Options o;
    o.noise = false;
    o.meanDoseRate = 0.5;
    o.recordInterval = 10;
    Device d(o);
    ASSERT_EQ(d.State().archiveFill, 10);  // the power-on mark
    EXPECT_TRUE(IsMark(d.State().archive.data()));
    d.AdvanceSeconds(35);
    ASSERT_EQ(d.State().archiveFill, 40);
    EXPECT_EQ(GetBE16(&d.StatusBlock()[status_offset::ArchiveFill]), 40);
    for (int k = 1; k <= 3; ++k) {
        const uint8_t* r = &d.State().archive[k * 10];
        EXPECT_DOUBLE_EQ(DecodeDeviceFloat(r), 0.5);
        EXPECT_NEAR(static_cast<double>(RecordTime(r) - d.DeviceNow()), 0, 2);
    }
    EXPECT_TRUE(IsMark(&d.State().archive[40]));  // nothing beyond the fill
    EXPECT_EQ(d.StatusBlock()[status_offset::StatusFlags] & ArchiveFullBit, 0);

    // Near the end of the memory: the last record that fits, then the full flag.
    d.State().archiveFill = 32750;
    d.AdvanceSeconds(5);
    EXPECT_EQ(d.State().archiveFill, 32760);
    EXPECT_NE(d.StatusBlock()[status_offset::StatusFlags] & ArchiveFullBit, 0);
    d.AdvanceSeconds(30);
    EXPECT_EQ(d.State().archiveFill, 32760);
    EXPECT_TRUE(std::all_of(d.State().archive.end() - 8, d.State().archive.end(), [](uint8_t b) { return b == 0; }));

    Options noMark = o;
    noMark.powerOnMark = false;
    EXPECT_EQ(Device(noMark).State().archiveFill, 0);
}

TEST(SimDevice, GeneratedArchiveHasMarkedSessionsOnSuccessiveDays) {
    for (const bool backwards : {false, true}) {
        SCOPED_TRACE(backwards ? "backwards" : "forwards");
        Options o;
        o.noise = true;
        o.recordInterval = 60;
        o.genSessions = 3;
        o.genRecords = 5;
        o.genBackwards = backwards;
        Device d(o);
        // Three sessions of a mark and five records, then the power-on mark.
        ASSERT_EQ(d.State().archiveFill, (3 * 6 + 1) * 10);
        const uint8_t* a = d.State().archive.data();
        EXPECT_TRUE(IsMark(a + 180));
        int drops = 0, dropSession = -1;
        long long previousDay = -1;
        for (int s = 0; s < 3; ++s) {
            const uint8_t* mark = a + s * 60;
            EXPECT_TRUE(IsMark(mark)) << s;
            for (int r = 0; r < 5; ++r) {
                const uint8_t* rec = mark + 10 + r * 10;
                EXPECT_GT(DecodeDeviceFloat(rec), 0) << s << " " << r;
                if (r > 0) {
                    const long long step = RecordTime(rec) - RecordTime(rec - 10);
                    if (step < 0) {
                        ++drops;
                        dropSession = s;
                    } else {
                        EXPECT_EQ(step, 60);
                    }
                }
            }
            const long long day = RecordTime(mark + 10) / 86400;
            if (previousDay >= 0) {
                EXPECT_EQ(day, previousDay + 1);
            }
            previousDay = day;
        }
        EXPECT_LT(previousDay, d.DeviceNow() / 86400);  // all of it before today
        EXPECT_EQ(drops, backwards ? 1 : 0);
        if (backwards) {
            EXPECT_EQ(dropSession, 1);
        }
        // Live records continue after the generated content.
        d.AdvanceSeconds(60);
        EXPECT_EQ(d.State().archiveFill, 200);
        EXPECT_GT(DecodeDeviceFloat(a + 190), 0);
    }
}

TEST(SimDevice, ArchiveFileIsPreloaded) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Bytes image(sim::kArchiveSize, 0);
    for (int k : {1, 2, 4}) {  // a mark at record 0 and one at record 3
        ASSERT_TRUE(EncodeDeviceFloat(0.1 * k, &image[k * 10]));
        image[k * 10 + 4] = 0x30;
        image[k * 10 + 7] = 0x15;
        image[k * 10 + 8] = 0x06;
        image[k * 10 + 9] = 0x24;
    }
    const QString path = dir.filePath(QStringLiteral("archive.bin"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
    f.close();

    Options o;
    o.archiveFile = path;
    Device d(o);
    EXPECT_EQ(d.State().archiveFill, 60);  // five records of the file, then the power-on mark
    EXPECT_EQ(Hex(d.Read(0x25, 2048, 0)), Hex(Bytes(image.begin(), image.begin() + 2048)));
}

TEST(SimDevice, ReadingsFollowTheMeanWithCountingNoise) {
    Options o;
    o.meanDoseRate = 1.0;
    o.recordInterval = 60;
    o.seed = 7;
    Device d(o);
    d.AdvanceSeconds(3600);
    const auto& s = d.State();
    EXPECT_EQ(s.runningTime, 3600u);
    EXPECT_EQ(s.doseTime, 3600u);
    EXPECT_NEAR(s.dose, 1.0, 0.05);  // an hour at 1 uSv/h
    EXPECT_NEAR(s.statError, 100 / std::sqrt(50.0 * 60), 0.5);
    // 50 pulses a second at 1 uSv/h; the count is within a few sigma of that.
    EXPECT_NEAR(static_cast<double>(s.pulseCount), 180000, 5 * std::sqrt(180000.0));

    double lo = 1e9, hi = 0;
    for (int k = 1; k < s.archiveFill / 10; ++k) {
        const double v = DecodeDeviceFloat(&s.archive[k * 10]);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_EQ(s.archiveFill, 610);
    EXPECT_GT(lo, 0.7);
    EXPECT_LT(hi, 1.3);
    EXPECT_LT(lo, hi);  // the readings do move

    // The same seed, the same life; a larger mean is followed quickly.
    Device twin(o);
    twin.AdvanceSeconds(3600);
    EXPECT_EQ(twin.State().pulseCount, s.pulseCount);
    twin.State().meanDoseRate = 20;
    twin.AdvanceSeconds(5);
    EXPECT_NEAR(twin.State().doseRate, 20, 2);

    Options quiet = o;
    quiet.noise = false;
    Device exact(quiet);
    exact.AdvanceSeconds(3600);
    EXPECT_EQ(exact.State().pulseCount, 180000u);
    EXPECT_NEAR(exact.State().dose, 1.0, 1e-9);
    EXPECT_DOUBLE_EQ(exact.State().doseRate, 1.0);
}

TEST_F(SimOverPty, FaultsShapeTheAnswers) {
    Begin();
    const Bytes probe = WithCrc(DeviceRead(0x10, 20, 128));
    const Bytes sentinel = WithCrc(DeviceRead(0x30, 66, 0));
    struct Case {
        const char* name;
        std::function<void(Simulator&)> set;
        std::function<void(Simulator&)> clear;
        size_t size;       // bytes of the faulty answer
        int zeroResidual;  // residual bytes that are zero
    };
    const Case cases[] = {
        {"short by 3", [](Simulator& s) { s.SetShortBy(3); }, [](Simulator& s) { s.SetShortBy(0); }, 19, -1},
        {"corrupt next", [](Simulator& s) { s.CorruptNextCrc(1); }, [](Simulator&) {}, 22, -2},
        {"corrupt always", [](Simulator& s) { s.SetCorruptProbability(1); },
         [](Simulator& s) { s.SetCorruptProbability(0); }, 22, -2},
        {"half-zero residual", [](Simulator& s) { s.HalfZeroResidualNext(1); }, [](Simulator&) {}, 22, 1},
        {"silent", [](Simulator& s) { s.SetSilent(true); }, [](Simulator& s) { s.SetSilent(false); }, 0, -1},
        {"delayed", [](Simulator& s) { s.SetDelayMs(150); }, [](Simulator& s) { s.SetDelayMs(0); }, 22, 2},
        {"paced", [](Simulator& s) { s.SetPaced(true); }, [](Simulator& s) { s.SetPaced(false); }, 22, 2},
    };
    size_t requests = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        k.set(S());
        H().Send(kProbeFrame);
        ASSERT_TRUE(S().WaitForRequests(++requests, 2000));  // the answer is decided
        k.clear(S());
        H().Send(kParamFrame);
        ++requests;
        const Bytes got = H().Receive(k.size + sentinel.size());
        ASSERT_EQ(got.size(), k.size + sentinel.size());
        const Bytes answer(got.begin(), got.begin() + k.size);
        EXPECT_EQ(Hex(Bytes(got.begin() + k.size, got.end())), Hex(sentinel));
        // The data itself is never touched.
        const size_t data = std::min<size_t>(k.size, 20);
        EXPECT_EQ(Hex(Bytes(answer.begin(), answer.begin() + data)), Hex(Bytes(probe.begin(), probe.begin() + data)));
        if (k.size == 22) {
            const CrcRegister r = Residual(answer);
            const int zeros = (r.first == 0) + (r.second == 0);
            if (k.zeroResidual >= 0) {
                EXPECT_EQ(zeros, k.zeroResidual);
            } else {
                EXPECT_FALSE(r.Zero());
            }
        }
    }
    // Counted faults wear off: two corrupted answers, then a good one.
    S().CorruptNextCrc(2);
    for (const bool good : {false, false, true}) {
        const Bytes a = H().Exchange(kProbeFrame, 22);
        ASSERT_EQ(a.size(), 22u);
        EXPECT_EQ(Residual(a).Zero(), good);
    }
    // A paced archive block still arrives whole.
    S().SetPaced(true);
    const Bytes block = H().Exchange(Frame(0x25, 2048, 0), 2050);
    ASSERT_EQ(block.size(), 2050u);
    EXPECT_TRUE(Residual(block).Zero());
}

TEST_F(SimOverPty, InjectedBytesReachTheHostUnasked) {
    Begin();
    S().InjectToHost({0xDE, 0xAD, 0xBE, 0xEF});
    EXPECT_EQ(Hex(H().Receive(4)), "DE AD BE EF");
    EXPECT_TRUE(S().Requests().empty());
}

TEST_F(SimOverPty, DeviceAdvancesOnlyWhenToldAndWritesTimeOutWithoutPayload) {
    Begin();
    // Torn write: header of a 7-byte clock write and only 3 payload bytes.
    Bytes torn = Frame(0xBB, 7, 0, {1, 2, 3, 4, 5, 6, 7});
    torn.resize(8 + 3);
    H().Send(torn);
    ASSERT_TRUE(S().WaitForRequests(1, 3000));
    EXPECT_FALSE(S().Requests()[0].payloadCrcOk);
    S().WithDevice([](Device& d) { EXPECT_EQ(d.State().clockOffset, 0); });
    // The device still answers afterwards.
    const Bytes a = H().Exchange(kProbeFrame, 22);
    EXPECT_EQ(a.size(), 22u);

    S().WithDevice([](Device& d) { EXPECT_EQ(d.State().runningTime, 0u); });
    S().AdvanceSeconds(12);
    S().WithDevice([](Device& d) {
        EXPECT_EQ(d.State().runningTime, 12u);
        EXPECT_EQ(d.State().archiveFill, 20);
    });
}

TEST(SimLink, LinksInAsAComPortAndStopsCleanly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("ports"));
    Simulator s;
    EXPECT_FALSE(s.LinkAs(folder, 4));  // nothing to link before it starts
    ASSERT_TRUE(s.Start(false));
    const QString slave = s.SlavePath();
    ASSERT_TRUE(QFileInfo(slave).exists());
    ASSERT_TRUE(s.LinkAs(folder, 4));
    ASSERT_TRUE(s.LinkAs(folder, 4));  // replaces its own link
    EXPECT_EQ(QFileInfo(folder + QStringLiteral("/COM4")).symLinkTarget(), slave);
    {
        // The host closing its end does not disturb the device.
        Host first(folder + QStringLiteral("/COM4"));
        ASSERT_TRUE(first.Ok());
    }
    Host second(folder + QStringLiteral("/COM4"));
    ASSERT_TRUE(second.Ok());
    EXPECT_EQ(second.Exchange(kProbeFrame, 22).size(), 22u);
    s.Stop();
    s.Stop();
    EXPECT_FALSE(s.WaitForRequests(2, 50));
}

}  // namespace
}  // namespace veresk
