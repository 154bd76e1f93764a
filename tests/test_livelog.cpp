// The live log: its records built from decoded status blocks (a table of values and
// flags), the PC's local time with its UTC offset in several zones, and the daily files
// written tick by tick under an injected PC clock: across local midnight, continuing a
// day's file, and failing writes that come right again.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <ctime>

#include "monitor/clock.h"
#include "monitor/livelog.h"
#include "support/csv_reader.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

std::string S(const QByteArray& b) { return b.toStdString(); }

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// The zone's offset at `t` as the C library reports it, "+07:00".
std::string OffsetText(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    const long off = tm.tm_gmtoff;
    const long m = std::labs(off) / 60;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%c%02ld:%02ld", off < 0 ? '-' : '+', m / 60, m % 60);
    return buf;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

LiveStatusValues Status(float rate, float dose, float temperature, float battery, uint8_t statusFlags,
                        uint8_t rateFlags, int records) {
    LiveStatusValues s;
    s.DoseRate = rate;
    s.Dose = dose;
    s.Temperature = temperature;
    s.BatteryVoltage = battery;
    s.StatusFlags = statusFlags;
    s.RateFlags = rateFlags;
    s.ArchiveFill = records;
    return s;
}

const char kHeader[] =
    "time,dose_rate_usv_h,dose_usv,temperature,battery_mv,charging,rate_alarm,dose_alarm,archive_records\r\n";

// Sets TZ for the life of the object (the C library and Qt both read it afresh).
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) : had_(qEnvironmentVariableIsSet("TZ")), old_(qgetenv("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneScope() {
        if (had_) qputenv("TZ", old_);
        else qunsetenv("TZ");
        tzset();
    }

private:
    bool had_;
    QByteArray old_;
};

class LiveLogFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    void TearDown() override { SetPcClockSource({}); }
    QString Folder() const { return dir_.path() + "/data/log"; }
    QString DayFile(const char* name) const { return Folder() + '/' + name; }
    // A PC clock that returns the given times one after the other.
    void Clock(std::vector<std::time_t> times) {
        auto shared = std::make_shared<std::vector<std::time_t>>(std::move(times));
        auto index = std::make_shared<size_t>(0);
        SetPcClockSource([shared, index] { return shared->at(std::min((*index)++, shared->size() - 1)); });
    }
    QTemporaryDir dir_;
};

}  // namespace

TEST(LiveLogRecords, ValuesAndFlags) {
    const std::time_t t = LocalTime(2026, 12, 10, 14, 3, 27);
    const std::string time = "2026-12-10T14:03:27" + OffsetText(t);
    const struct {
        LiveStatusValues status;
        const char* fields;  // after the time
    } cases[] = {
        {Status(0.15f, 12.5f, 23.5f, 3950.0f, 0x00, 0x00, 120), "0.15,12.5,23.5,3950,0,0,0,120"},
        {Status(0.1f, 0.0f, -5.25f, 3712.5f, 0x20, 0x00, 0), "0.1,0,-5.25,3712.5,1,0,0,0"},      // charging
        {Status(35.0f, 1.0f, 20.0f, 4100.0f, 0x00, 0x04, 3276), "35,1,20,4100,0,1,0,3276"},      // rate alarm
        {Status(0.12f, 1500.0f, 20.0f, 4100.0f, 0x04, 0x00, 7), "0.12,1500,20,4100,0,0,1,7"},    // dose alarm
        {Status(1e-5f, 0.333f, 0.0f, 0.0f, 0xFF, 0xFF, 5), "1e-05,0.333,0,0,1,1,1,5"},           // every bit set
        {Status(0.2f, 2.0f, 21.0f, 4000.0f, 0xDB, 0xFB, 9), "0.2,2,21,4000,0,0,0,9"},            // the other bits
    };
    for (const auto& c : cases) EXPECT_EQ(S(LiveLogRow(c.status, t)), time + ',' + c.fields + "\r\n") << c.fields;
    EXPECT_EQ(S(LiveLogHeader()), kHeader);
    const auto header = ReadCsv(LiveLogHeader());
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->front().size(), 9);
}

TEST(LiveLogRecords, LocalTimeCarriesItsUtcOffset) {
    // 2026-07-01 12:00:00 UTC and 2026-12-10 12:00:00 UTC in several zones.
    const std::time_t summer = 1782907200;
    const std::time_t winter = 1796904000;
    const struct {
        const char* zone;
        std::time_t t;
        const char* iso;
        const char* file;
    } cases[] = {
        {"UTC", winter, "2026-12-10T12:00:00+00:00", "2026-12-10.csv"},
        {"Asia/Novosibirsk", winter, "2026-12-10T19:00:00+07:00", "2026-12-10.csv"},
        {"Asia/Kolkata", winter, "2026-12-10T17:30:00+05:30", "2026-12-10.csv"},
        {"America/St_Johns", winter, "2026-12-10T08:30:00-03:30", "2026-12-10.csv"},
        {"Europe/Berlin", winter, "2026-12-10T13:00:00+01:00", "2026-12-10.csv"},
        {"Europe/Berlin", summer, "2026-07-01T14:00:00+02:00", "2026-07-01.csv"},
        {"Pacific/Kiritimati", winter, "2026-12-11T02:00:00+14:00", "2026-12-11.csv"},
        {"Pacific/Pago_Pago", winter, "2026-12-10T01:00:00-11:00", "2026-12-10.csv"},
    };
    for (const auto& c : cases) {
        ZoneScope zone(c.zone);
        EXPECT_EQ(S(LocalIsoTime(c.t)), c.iso) << c.zone;
        EXPECT_EQ(LiveLogFileName(c.t).toStdString(), c.file) << c.zone;
    }
}

TEST_F(LiveLogFiles, TicksAppendFlushedRecords) {
    const std::time_t t0 = LocalTime(2026, 12, 10, 14, 3, 27);
    Clock({t0, t0 + 1, t0 + 2});
    LiveLogWriter log(Folder());
    const LiveStatusValues s = Status(0.15f, 12.5f, 23.5f, 3950.0f, 0x00, 0x00, 120);
    const QString file = DayFile("2026-12-10.csv");
    std::string expected = kHeader;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(log.Append(s));
        expected += S(LiveLogRow(s, t0 + i));
        // Each record is in the file as soon as Append returns.
        EXPECT_EQ(S(ReadAll(file)), expected) << "tick " << i;
    }
    const auto table = ReadCsv(ReadAll(file));
    ASSERT_TRUE(table.has_value());
    ASSERT_EQ(table->size(), 4);
    EXPECT_EQ(table->at(3).at(0), LocalIsoTime(t0 + 2));
    EXPECT_EQ(table->at(3).at(1).toFloat(), 0.15f);
}

TEST_F(LiveLogFiles, NewFileAtLocalMidnight) {
    const std::time_t late = LocalTime(2026, 12, 10, 23, 59, 58);
    Clock({late, late + 1, late + 2, late + 3});  // 23:59:58, 23:59:59, 00:00:00, 00:00:01
    LiveLogWriter log(Folder());
    const LiveStatusValues s = Status(0.11f, 1.0f, 20.0f, 4000.0f, 0, 0, 1);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(log.Append(s));
    EXPECT_EQ(S(ReadAll(DayFile("2026-12-10.csv"))),
              kHeader + S(LiveLogRow(s, late)) + S(LiveLogRow(s, late + 1)));
    EXPECT_EQ(S(ReadAll(DayFile("2026-12-11.csv"))),
              kHeader + S(LiveLogRow(s, late + 2)) + S(LiveLogRow(s, late + 3)));
    EXPECT_TRUE(LiveLogRow(s, late + 2).startsWith("2026-12-11T00:00:00"));
    EXPECT_EQ(QDir(Folder()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(LiveLogFiles, DaysFileIsContinuedWithoutSecondHeader) {
    const std::time_t t = LocalTime(2026, 12, 10, 9, 0, 0);
    const LiveStatusValues s = Status(0.2f, 2.0f, 21.0f, 4000.0f, 0, 0, 9);
    ASSERT_TRUE(LiveLogWriter(Folder()).Append(s, t));
    // The program started again the same day.
    ASSERT_TRUE(LiveLogWriter(Folder()).Append(s, t + 60));
    EXPECT_EQ(S(ReadAll(DayFile("2026-12-10.csv"))), kHeader + S(LiveLogRow(s, t)) + S(LiveLogRow(s, t + 60)));

    // A record cut short by a crash is ended before the next one.
    QFile f(DayFile("2026-12-10.csv"));
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("2026-12-10T09:02:00+0");
    f.close();
    ASSERT_TRUE(LiveLogWriter(Folder()).Append(s, t + 180));
    const QByteArray content = ReadAll(DayFile("2026-12-10.csv"));
    EXPECT_TRUE(content.endsWith("2026-12-10T09:02:00+0\r\n" + LiveLogRow(s, t + 180))) << S(content);
    EXPECT_TRUE(ReadCsv(content).has_value());
}

TEST_F(LiveLogFiles, FailingWritesReportAndRecover) {
    const std::time_t t = LocalTime(2026, 12, 10, 9, 0, 0);
    const LiveStatusValues s = Status(0.2f, 2.0f, 21.0f, 4000.0f, 0, 0, 9);
    // The folder's place is taken by a file.
    ASSERT_TRUE(QDir().mkpath(dir_.path() + "/data"));
    QFile blocker(Folder());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    LiveLogWriter log(Folder());
    EXPECT_FALSE(log.Append(s, t));
    EXPECT_FALSE(log.Append(s, t + 1));
    // The way is free again: the next tick writes, header first.
    ASSERT_TRUE(QFile::remove(Folder()));
    EXPECT_TRUE(log.Append(s, t + 2));
    EXPECT_EQ(S(ReadAll(DayFile("2026-12-10.csv"))), kHeader + S(LiveLogRow(s, t + 2)));
    // The day's file cannot be opened (a folder of that name).
    ASSERT_TRUE(QDir().mkpath(DayFile("2026-12-11.csv")));
    EXPECT_FALSE(log.Append(s, LocalTime(2026, 12, 11, 0, 0, 5)));
#ifdef Q_OS_LINUX
    // A full disk: the day's file leads to /dev/full, where every write fails.
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), DayFile("2026-12-12.csv")));
    EXPECT_FALSE(log.Append(s, LocalTime(2026, 12, 12, 0, 0, 5)));
#endif
}
