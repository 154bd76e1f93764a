// The archive: record decoding, the session walk, its texts, the session file and the
// chart navigation on crafted images; the download, the session buttons and the erase
// button against the simulator over a pseudo-terminal.
#include <gtest/gtest.h>

#include <cmath>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QFontMetrics>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <set>

#include "archive/archive.h"
#include "link/codecs.h"
#include "support/gui_fixture.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }

// Builds an archive image record by record, with a running wall clock.
struct ImageBuilder {
    ArchiveImageT image{};
    int next = 0;  // record index
    long long clock = QDateTime(QDate(2009, 3, 21), QTime(7, 5, 9), Qt::UTC).toSecsSinceEpoch();

    uint8_t* Slot() { return image.data() + kArchiveRecordSize * next++; }
    void Stamp(uint8_t* r, long long t) const {
        const QDateTime dt = QDateTime::fromSecsSinceEpoch(t, Qt::UTC);
        r[4] = EncodeBcd(dt.time().second());
        r[5] = EncodeBcd(dt.time().minute());
        r[6] = EncodeBcd(dt.time().hour());
        r[7] = EncodeBcd(dt.date().day());
        r[8] = EncodeBcd(dt.date().month());
        r[9] = EncodeBcd(dt.date().year() - 2000);
    }
    ImageBuilder& Measure(double v) {
        uint8_t* r = Slot();
        EncodeDeviceFloat(v, r);
        Stamp(r, clock);
        clock += 10;
        return *this;
    }
    ImageBuilder& Measures(int n) {
        for (int i = 0; i < n; ++i) Measure(0.1 + 0.01 * (i % 9));
        return *this;
    }
    ImageBuilder& Mark() {
        ++next;
        return *this;
    }
    // A dated record whose value bytes make no measurement.
    ImageBuilder& NonMeasure(uint32_t valueBits) {
        uint8_t* r = Slot();
        PutBE32(r, valueBits);
        Stamp(r, clock);
        return *this;
    }
    // One record per letter: M measurement, B measurement after the clock went back
    // half an hour, 0 mark, N value 0 with a date, - value -1, F value bytes FF FF FF FF,
    // H a damaged measurement of 3e38 (near the top of the float range).
    static ImageBuilder FromPattern(const std::string& pattern) {
        ImageBuilder b;
        for (char c : pattern) {
            switch (c) {
                case 'M': b.Measure(0.2); break;
                case 'B': b.clock -= 1800; b.Measure(0.2); break;
                case '0': b.Mark(); break;
                case 'N': b.NonMeasure(0); break;
                case '-': b.NonMeasure(0xBF800000u); break;
                case 'F': b.NonMeasure(0xFFFFFFFFu); break;
                case 'H': b.Measure(3.0e38); break;
                default: ADD_FAILURE() << "pattern letter " << c;
            }
        }
        return b;
    }
    std::vector<uint8_t> Bytes() const { return {image.begin(), image.end()}; }
};

std::vector<int> RecordNumbers(const SessionView& v) {
    std::vector<int> out;
    for (const SessionRow& r : v.rows) out.push_back(r.record);
    return out;
}

SessionView Walk(const ArchiveImageT& image, int session, int start, int* final = nullptr) {
    int counter = start;
    SessionView v = ShowSession(image, session, counter, QLocale::c());
    if (final) *final = counter;
    return v;
}

}  // namespace

// ================================================================ records and texts

TEST(ArchiveRecords, TimeIsTheStoredWallClockOnOneScale) {
    ImageBuilder b;
    b.Measure(0.15);
    const uint8_t* r = ArchiveRecord(b.image, 0);
    EXPECT_EQ(RecordTimeText(r), "07.05.09 21/03/09");
    EXPECT_EQ(RecordTime(r), QDateTime(QDate(2009, 3, 21), QTime(7, 5, 9), Qt::UTC).toSecsSinceEpoch());
    // 21 March 2009 is day 39893 of the chart's calendar (from 30 December 1899).
    EXPECT_DOUBLE_EQ(ChartDayCount(RecordTime(r)), 39893.0 + (7 * 3600 + 5 * 60 + 9) / 86400.0);
    EXPECT_DOUBLE_EQ(ChartDayCount(0), 25569.0);
    EXPECT_EQ(RecordTimeOfDayCount(ChartDayCount(RecordTime(r))), RecordTime(r));

    // Dates that are no calendar dates run on like a calendar normalisation.
    struct Case { int y, m, d, ny, nm, nd; } cases[] = {
        {2009, 13, 1, 2010, 1, 1}, {2009, 1, 32, 2009, 2, 1}, {2009, 0, 1, 2008, 12, 1},
        {2008, 2, 30, 2008, 3, 1}, {2009, 2, 0, 2009, 1, 31}, {2009, 25, 1, 2011, 1, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DaysFromCivil(c.y, c.m, c.d), DaysFromCivil(c.ny, c.nm, c.nd)) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(DaysFromCivil(2000, 3, 1), QDate(1970, 1, 1).daysTo(QDate(2000, 3, 1)));
}

TEST(ArchiveTexts, ValueTextsInPointAndCommaLocales) {
    struct Case { double v; const char* text; } cases[] = {
        {0.15, "0.150"}, {0.1f, "0.100"}, {12.345678, "12.346"}, {1234.5678, "1234.570"},
        {123456.7, "123457.000"}, {0.0004, "0.000"}, {0.0005, "0.001"}, {9.9999996, "10.000"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ArchiveValueText(c.v, QLocale::c()), c.text) << c.v;
        EXPECT_EQ(ArchiveValueText(c.v, QLocale(QLocale::Russian)), QString(c.text).replace('.', ',')) << c.v;
    }
}

TEST(ArchiveTexts, WorkingTimeSessionAndAxisTexts) {
    struct Case { long long s; int lang; const char* text; } cases[] = {
        {86400, 1, " 1 день 0 ч 0 мин"},     {86400, 2, "1 day 0 h 0 min"},
        {59, 1, " 0 мин"},                   {59, 2, "0 min"},
        {2 * 86400 + 5 * 3600 + 7 * 60 + 5, 1, " 2 дня 5 ч 7 мин"},
        {3 * 86400, 0, " 3 дня 0 ч 0 мин"},  {4 * 86400, 1, " 4 дней 0 ч 0 мин"},
        {21 * 86400, 1, " 21 дней 0 ч 0 мин"}, {5 * 86400, 2, "5 days 0 h 0 min"},
        {3 * 3600 + 60, 2, "3 h 1 min"},     {3600, 1, " 1 ч 0 мин"},
        {120, 1, " 2 мин"},                  {0, 2, "0 min"},
    };
    for (const Case& c : cases) EXPECT_EQ(WorkingTimeText(c.s, c.lang), U(c.text)) << c.s;
    EXPECT_EQ(SessionText(1, 3, 1), U(" 1 из 3"));
    EXPECT_EQ(SessionText(12, 30, 2), " 12 of 30");
    EXPECT_EQ(SessionText(1, 0, 7), U(" 1 из 0"));
    EXPECT_EQ(TimeAxisFormat(0), "hh:mm");
    EXPECT_EQ(TimeAxisFormat(1), "dd.MM.yy");
    EXPECT_EQ(TimeAxisFormat(2), "hh:mm dd.MM.yy");
    EXPECT_TRUE(TimeAxisFormat(-1).isEmpty());
}

// ================================================================ the session walk

TEST(SessionWalk, RecordsGoToSessionsByMarksAndClock) {
    struct Case {
        const char* pattern;
        int sessionCount;                       // highest session holding a measurement
        std::map<int, std::vector<int>> shown;  // session -> record numbers
    } cases[] = {
        {"", 0, {}},                                    // empty memory: no session at all
        {"0MMM", 1, {{1, {2, 3, 4}}}},                  // first record a mark
        {"MM0MM", 2, {{1, {1, 2}}, {2, {4, 5}}}},       // no mark in front: session 1 begins at record 1
        {"MMM0MM", 2, {{1, {1, 2, 3}}, {2, {5, 6}}}},
        {"MB", 2, {{1, {1}}, {2, {2}}}},                // the clock went back right after the start
        {"NMM", 1, {{1, {2, 3}}}},                      // a dated non-measurement opens memory as well
        {"F0M", 1, {{1, {3}}}},                         // ... and lowers the count before a mark
        {"0MMBM", 2, {{1, {2, 3}}, {2, {4, 5}}}},       // the clock went back
        {"0M00M", 2, {{1, {2}}, {2, {5}}}},             // two marks open one session
        {"0M0", 1, {{1, {2}}}},                         // a mark before empty memory opens none
        {"0MN0M", 1, {{1, {2, 5}}}},                    // dated zero before a mark lowers the count
        {"0M-M", 1, {{1, {2, 4}}}},                     // negative values are no measurements
        {"0MF", 1, {{1, {2}}}},                         // FF FF FF FF reads as 0 and lowers the counter
        {"0MM0MMN", 2, {{1, {2, 3}}, {2, {5, 6}}}},     // ... but the newest session still counts
        {"0MM0MMM0M", 3, {{1, {2, 3}}, {2, {5, 6, 7}}, {3, {9}}}},
        {"0N-F", 0, {}},                                // written, but no measurement anywhere
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        const ImageBuilder b = ImageBuilder::FromPattern(c.pattern);
        for (int s = -1; s <= c.sessionCount + 2; ++s) {
            const auto it = c.shown.find(s);
            const std::vector<int> expected = it == c.shown.end() ? std::vector<int>{} : it->second;
            int found = -100;
            // The download and the session buttons both walk from 0.
            EXPECT_EQ(RecordNumbers(Walk(b.image, s, 0, &found)), expected) << "session " << s;
            EXPECT_EQ(found, c.sessionCount);
        }
    }
}

TEST(SessionWalk, RowsPointsAndStatistics) {
    ImageBuilder b;
    b.Mark().Measure(0.1).Measure(0.3);
    b.clock += 86400 - 20;
    b.Measure(0.2).Mark().Measure(5.0);
    const SessionView v = Walk(b.image, 1, 0);
    ASSERT_EQ(v.rows.size(), 3u);
    EXPECT_EQ(v.rows[0].record, 2);
    EXPECT_EQ(v.rows[0].time, "07.05.09 21/03/09");
    EXPECT_EQ(v.rows[0].value, "0.100");
    EXPECT_EQ(v.rows[1].time, "07.05.19 21/03/09");
    EXPECT_EQ(v.rows[2].time, "07.05.09 22/03/09");
    EXPECT_EQ(v.rows[2].value, "0.200");
    ASSERT_EQ(v.points.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const uint8_t* r = ArchiveRecord(b.image, i + 1);
        EXPECT_DOUBLE_EQ(v.points[i].x(), ChartDayCount(RecordTime(r)));
        EXPECT_DOUBLE_EQ(v.points[i].y(), static_cast<float>(DecodeDeviceFloat(r)));
    }
    EXPECT_EQ(v.stats.count, 3);
    EXPECT_EQ(v.stats.lastTime - v.stats.firstTime, 86400);
    EXPECT_EQ(v.rowCount, 17);
    const auto ru = SessionStatsTexts(v.stats, 1, QLocale(QLocale::Russian));
    EXPECT_EQ(ru[0], U(" 1 день 0 ч 0 мин"));
    EXPECT_EQ(ru[1], "3");
    EXPECT_EQ(ru[2], "0,300");
    EXPECT_EQ(ru[3], "0,100");
    EXPECT_EQ(ru[4], "0,200");
    const auto en = SessionStatsTexts(Walk(b.image, 2, 0).stats, 2, QLocale::c());
    EXPECT_EQ(en[0], "0 min");
    EXPECT_EQ(en[2], "5.000");
    EXPECT_EQ(en[3], "5.000");
}

TEST(SessionWalk, ValueBeyondTheFloatRangeStaysFinite) {
    ImageBuilder b;
    b.Mark().NonMeasure(0x7F800000u);  // exponent 255: a huge number, not an infinity
    b.Measure(2.0);
    const SessionView v = Walk(b.image, 1, 0);
    ASSERT_EQ(v.rows.size(), 2u);
    for (const auto& row : v.rows) EXPECT_FALSE(row.value.contains("INF", Qt::CaseInsensitive)) << row.value.toStdString();
    EXPECT_TRUE(std::isfinite(v.stats.maximum));
    EXPECT_FLOAT_EQ(v.stats.minimum, 2.0f);
    for (const auto& p : v.points) EXPECT_TRUE(std::isfinite(p.y()));
}

TEST(SessionWalk, StatisticsOfHugeValuesStayNumbers) {
    // Sums that pass the single-precision range: two or more damaged records near it.
    for (const char* pattern : {"0HH", "0HHHHM", "0MHH"}) {
        SCOPED_TRACE(pattern);
        ImageBuilder b = ImageBuilder::FromPattern(pattern);
        b.Mark().NonMeasure(0x7F800000u);  // and one beyond it, in a session of its own
        b.Mark().NonMeasure(0x7F800000u).Measure(3.0e38);
        for (int session : {1, 3}) {
            const SessionView v = Walk(b.image, session, 0);
            ASSERT_GE(v.stats.count, 2);
            EXPECT_TRUE(std::isfinite(v.stats.sum));
            const auto texts = SessionStatsTexts(v.stats, 1, QLocale::c());
            for (int r = 2; r <= 4; ++r) {
                EXPECT_FALSE(texts[r].contains("INF", Qt::CaseInsensitive)) << r << " " << texts[r].toStdString();
                EXPECT_FALSE(texts[r].contains("NAN", Qt::CaseInsensitive)) << r << " " << texts[r].toStdString();
            }
            // The average lies between the minimum and the maximum.
            const double average = v.stats.sum / v.stats.count;
            EXPECT_LE(average, v.stats.maximum);
            EXPECT_GE(average, v.stats.minimum);
            EXPECT_EQ(texts[4], ArchiveValueText(average, QLocale::c()));
        }
    }
    // Equal values: average, maximum and minimum read the same.
    const SessionView equal = Walk(ImageBuilder::FromPattern("0HHH").image, 1, 0);
    ASSERT_EQ(equal.rows.size(), 3u);
    const auto same = SessionStatsTexts(equal.stats, 2, QLocale::c());
    EXPECT_EQ(same[4], equal.rows[0].value);
    EXPECT_EQ(same[3], equal.rows[0].value);
    EXPECT_EQ(same[2], equal.rows[0].value);
}

TEST(SessionWalk, GridRowCountFollowsTheShownSession) {
    struct Case { int shown, other, rows; } cases[] = {
        {5, 0, 17}, {16, 0, 17}, {17, 0, 18}, {40, 0, 41}, {0, 3, 17}, {0, 0, -1},
    };
    for (const Case& c : cases) {
        ImageBuilder b;
        if (c.shown > 0) b.Mark().Measures(c.shown);  // session 1
        if (c.other > 0) b.Mark().Measures(c.other);  // the next session
        const SessionView v = Walk(b.image, c.shown > 0 ? 1 : 2, 0);
        EXPECT_EQ(v.rowCount, c.rows) << c.shown << " + " << c.other;
        EXPECT_EQ(v.rows.size(), static_cast<size_t>(c.shown));
    }
}

TEST(SessionWalk, FullMemoryStaysInsideTheImage) {
    ImageBuilder b;
    b.Measures(kArchiveRecordCount);
    std::fill(b.image.end() - 8, b.image.end(), uint8_t{0xFF});  // bytes that belong to no record
    int count = 0;
    const SessionView v = Walk(b.image, 1, 0, &count);  // no mark in front: one session
    EXPECT_EQ(count, 1);
    ASSERT_EQ(v.rows.size(), static_cast<size_t>(kArchiveRecordCount));
    EXPECT_EQ(v.rows.back().record, 3276);
    EXPECT_EQ(v.rowCount, 3277);

    // A last record that is dated but no measurement: the record after it lies past the
    // end of the memory and counts as empty, and lowers the counter below session 1;
    // session 1 still holds measurements and is counted.
    ImageBuilder c;
    c.Mark().Measures(kArchiveRecordCount - 2).NonMeasure(0);
    EXPECT_EQ(Walk(c.image, 1, 0, &count).rows.size(), static_cast<size_t>(kArchiveRecordCount - 2));
    EXPECT_EQ(count, 1);
}

// ================================================================ session text file

namespace {
class SessionFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString old = QDir::currentPath();
    void SetUp() override { QDir::setCurrent(dir.path()); }
    void TearDown() override { QDir::setCurrent(old); }
    static QByteArray Read(const QString& name) {
        QFile f(name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
};
}  // namespace

TEST_F(SessionFile, LinesFromGridTexts) {
    struct Case { const char* rec; const char* time; const char* value; QLocale locale; const char* line; } cases[] = {
        {"12", "07.05.09 21/03/09", "0.150", QLocale::c(), "12 07:05:09 21/03/09 0.15"},
        {"12", "07.05.09 21/03/09", "0,150", QLocale(QLocale::Russian), "12 07:05:09 21/03/09 0.15"},
        {"3", "23.59.59 31/12/99", "12,345", QLocale(QLocale::Russian), "3 23:59:59 31/12/99 12.345"},
        {"3276", "00.00.00 01/01/00", "0,100", QLocale(QLocale::German), "3276 00:00:00 01/01/00 0.1"},
        {"7", "10.20.30 05/06/07", "1234567.000", QLocale::c(), "7 10:20:30 05/06/07 1.23457e+06"},
        {"8", "10.20.30 05/06/07", "0.000", QLocale::c(), "8 10:20:30 05/06/07 0"},
    };
    for (const Case& c : cases) EXPECT_EQ(SessionFileLine({c.rec, c.time, c.value}, c.locale), QByteArray(c.line));
}

TEST_F(SessionFile, OnlyShownRowsCrLfRewrittenPerSession) {
    std::vector<GridRow> rows(16);
    for (int i = 0; i < 5; ++i) rows[i] = {QString::number(12 + i), "07.05.09 21/03/09", i == 0 ? "0.150" : "0.100"};
    SaveSessionFile(1, rows, QLocale::c());
    const QByteArray one = Read(U("сеанс1.txt"));
    EXPECT_EQ(one.count("\r\n"), 5);
    EXPECT_EQ(one.count('\n'), 5);
    EXPECT_TRUE(one.startsWith("12 07:05:09 21/03/09 0.15\r\n13 07:05:09 21/03/09 0.1\r\n"));
    EXPECT_TRUE(one.endsWith("16 07:05:09 21/03/09 0.1\r\n"));

    // Session 10 goes to its own file; session 1 written again holds only its new lines.
    SaveSessionFile(10, {{"40", "01.02.03 04/05/06", "2.500"}}, QLocale::c());
    SaveSessionFile(1, {{"2", "01.02.03 04/05/06", "1.000"}}, QLocale::c());
    EXPECT_EQ(Read(U("сеанс1.txt")), QByteArray("2 01:02:03 04/05/06 1\r\n"));
    EXPECT_EQ(Read(U("сеанс10.txt")), QByteArray("40 01:02:03 04/05/06 2.5\r\n"));
    EXPECT_TRUE(QDir().entryList(QDir::Files).contains(U("сеанс10.txt")));
    EXPECT_EQ(QFile::encodeName(SessionFileName(10)), QByteArray("сеанс10.txt"));
}

// ================================================================ chart navigation

TEST(ChartNavigation, ButtonsActOnlyWhenTheirConditionHolds) {
    using Step = bool (*)(AxisLimits&);
    struct Case { const char* name; Step step; double min, max; bool acts; double newMin, newMax; } cases[] = {
        {"time zoom in", TimeZoomIn, 100, 200, true, 100, 200 - 10 * 1.0000000149},
        {"time zoom out", TimeZoomOut, 100, 200, true, 100, 200 + 10 * 1.0000000149},
        {"time later", TimeLater, 10, 20, true, 11, 21},
        {"time earlier", TimeEarlier, 10, 20, true, 9, 19},
        {"time earlier below 0", TimeEarlier, -5, 5, false, -5, 5},
        {"time later below 0", TimeLater, -5, 5, true, -4, 6},
        {"value zoom in", ValueZoomIn, 0, 10, true, 0, 9},
        {"value zoom out", ValueZoomOut, 0, 10, true, 0, 11},
        {"value up", ValueUp, 0, 10, true, 1, 11},
        {"value down", ValueDown, 0, 10, true, -1, 9},
        {"value down from below 0", ValueDown, -1, 9, false, -1, 9},
        {"value up from below 0", ValueUp, -1, 9, true, 0, 10},
        {"value up, max below 0", ValueUp, -20, -10, false, -20, -10},
        {"value zoom in to the minimum", ValueZoomIn, 9.5, 10, false, 9.5, 10},
    };
    for (const Case& c : cases) {
        AxisLimits a{c.min, c.max, true};
        EXPECT_EQ(c.step(a), c.acts) << c.name;
        EXPECT_NEAR(a.min, c.newMin, 1e-6) << c.name;
        EXPECT_NEAR(a.max, c.newMax, 1e-6) << c.name;
        EXPECT_EQ(a.automatic, !c.acts) << c.name;
    }
    // Both limits 0: nothing moves; the automatic button still switches.
    for (Step s : {TimeZoomIn, TimeZoomOut, TimeLater, TimeEarlier, ValueZoomIn, ValueZoomOut, ValueUp, ValueDown}) {
        AxisLimits a{0, 0, false};
        EXPECT_FALSE(s(a));
        EXPECT_EQ(a.min, 0);
        EXPECT_EQ(a.max, 0);
        EXPECT_FALSE(a.automatic);
    }
    AxisLimits t{0, 0, false}, v{-1, 0, false};
    AutomaticAxes(t, v);
    EXPECT_TRUE(t.automatic);
    EXPECT_TRUE(v.automatic);
    EXPECT_EQ(v.min, 0);
}

TEST(ChartNavigation, SequencesOfPresses) {
    AxisLimits t{1000, 1001, true};
    double span = 1;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(TimeZoomIn(t));
        span *= 1 - static_cast<double>(0.1f);
        EXPECT_NEAR(t.max - t.min, span, 1e-9);
        EXPECT_EQ(t.min, 1000);
        EXPECT_GT(t.max, t.min);
    }
    AxisLimits v{0, 10, false};
    ASSERT_TRUE(ValueDown(v));
    EXPECT_FLOAT_EQ(static_cast<float>(v.min), -1.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(v.max), 9.0f);
    EXPECT_FALSE(ValueDown(v));
    ASSERT_TRUE(ValueUp(v));
    EXPECT_NEAR(v.min, 0, 1e-6);
    EXPECT_NEAR(v.max, 10, 1e-6);

    AxisLimits z{0, 10, false};
    ASSERT_TRUE(ValueZoomIn(z));
    EXPECT_EQ(static_cast<float>(z.max), 9.0f);
    ASSERT_TRUE(ValueZoomOut(z));
    EXPECT_EQ(static_cast<float>(z.max), 9.9f);
}

TEST(ChartNavigation, AutomaticLimitsFitThePoints) {
    const std::vector<QPointF> points = {{40000.5, 0.2}, {40000.25, 0.7}, {40001.0, 0.1}};
    AxisLimits t{0, 1, true}, v{0, 1, true};
    FitAxes(t, v, points);
    EXPECT_EQ(t.min, 40000.25);
    EXPECT_EQ(t.max, 40001.0);
    EXPECT_EQ(v.min, 0);
    EXPECT_EQ(v.max, 0.7);
    AxisLimits tm{5, 6, false}, vm{1, 2, false};
    FitAxes(tm, vm, points);  // manual limits stay
    EXPECT_EQ(tm.max, 6);
    EXPECT_EQ(vm.max, 2);
    FitAxes(t, v, {});  // no points: nothing to fit
    EXPECT_EQ(t.max, 40001.0);
}

// ================================================================ against the simulator

namespace {

// The labels a date-time axis draws: `tickCount` times spread evenly from its minimum
// to its maximum, in its format.  None may repeat, and each must have room.
void ExpectReadableLabels(QDateTimeAxis* axis) {
    if (!axis->labelsVisible()) return;  // a window narrower than the format shows: no labels
    const int n = axis->tickCount();
    ASSERT_GE(n, 2);
    const qint64 lo = axis->min().toMSecsSinceEpoch(), hi = axis->max().toMSecsSinceEpoch();
    ASSERT_GT(hi, lo);
    QStringList labels;
    for (int i = 0; i < n; ++i)
        labels << QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(lo + i * (static_cast<double>(hi - lo) / (n - 1))))
                      .toString(axis->format());
    EXPECT_EQ(labels.removeDuplicates(), 0) << labels.join(' ').toStdString();
    // The chart is 490 pixels wide; its plot at least 380.
    const int widest = QFontMetrics(axis->labelsFont()).horizontalAdvance(labels.last());
    EXPECT_LE((n - 1) * widest, 380) << labels.join(' ').toStdString();
}

class ArchiveTab : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        ResetArchiveState();
    }
    void TearDown() override {
        GuiTest::TearDown();
        ResetArchiveState();
    }
    void Load(const ImageBuilder& b) {
        simulator.WithDevice([bytes = b.Bytes()](sim::Device& d) {
            d.State().archive = bytes;
            d.State().archiveFill = 0;
        });
    }
    // The device on COM3, the program started and its start-up search done.
    void Boot() {
        StartWithDevice();
        if (HasFatalFailure()) return;
    }
    std::vector<uint16_t> ArchiveReads() const {
        std::vector<uint16_t> addresses;
        for (const auto& r : simulator.Requests())
            if (r.command == ArchiveReadCommand) {
                EXPECT_EQ(r.length, 2048);
                addresses.push_back(r.address);
            }
        return addresses;
    }
    static TStringGrid* Grid() { return Form1->StringGrid8; }
    static TStringGrid* Stats() { return Form1->StringGrid3; }
    static int FilledRows() {
        int n = 0;
        for (int r = 1; r < Grid()->RowCount(); ++r)
            for (int c = 0; c < 3; ++c) n += !Grid()->Cell(c, r).isEmpty() ? 1 : 0;
        return n;
    }
    // Calls `f` with the attempt number after every archive exchange of a download.
    void OnAttempt(std::function<void(int)> f) {
        QObject::connect(Form1->ProgressBar2, &QProgressBar::valueChanged, Form1, [f](int v) { if (v > 0) f(v); });
    }
    // Three sessions of 5, 40 and 3 measurements, spread over two blocks.
    static ImageBuilder ThreeSessions() {
        ImageBuilder b;
        b.Mark().Measures(5).Mark().Measures(40).Mark().Measures(3);
        b.Mark().Measures(200);  // a fourth session in block 1
        return b;
    }
};

}  // namespace

TEST_F(ArchiveTab, DownloadStopsAtTheFirstEmptyBlockAndShowsSessionOne) {
    ImageBuilder b;
    b.Mark().Measure(0.15).Measure(0.25);
    b.clock += 3600;
    b.Measure(0.05).Mark().Measures(300);  // session 2 reaches into block 1
    Load(b);
    Boot();
    Form1->Timer1->SetEnabled(true);
    Form1->Button1->click();

    EXPECT_EQ(ArchiveReads(), (std::vector<uint16_t>{0, 2048, 4096}));
    EXPECT_FALSE(Form1->Timer1->Enabled());
    EXPECT_TRUE(Form1->Timer2->Enabled());
    EXPECT_EQ(StatusText(), U("Прочитано"));
    EXPECT_FALSE(StatusRed());
    EXPECT_TRUE(Archive.ArchiveLoaded);
    EXPECT_EQ(Archive.SessionCount, 2);
    EXPECT_EQ(Archive.CurrentSession, 1);
    EXPECT_EQ(Link.LinkErrorCount, 0);
    EXPECT_TRUE(std::equal(b.image.begin(), b.image.end(), Archive.ArchiveImage.begin()));
    EXPECT_TRUE(Form1->ProgressBar2->isHidden());
    EXPECT_EQ(Form1->ProgressBar2->value(), 3);

    EXPECT_EQ(Form1->Edit2->text(), U(" 1 из 2"));
    EXPECT_EQ(Grid()->RowCount(), 17);
    EXPECT_EQ(Grid()->Cell(0, 0), U("№"));
    EXPECT_EQ(Grid()->Cell(2, 0), U("МЭД"));
    const char* expected[][3] = {{"2", "07.05.09 21/03/09", "0.150"},
                                 {"3", "07.05.19 21/03/09", "0.250"},
                                 {"4", "08.05.29 21/03/09", "0.050"}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(Grid()->Cell(c, r + 1), expected[r][c]) << r << "," << c;
    EXPECT_EQ(FilledRows(), 9);
    const char* stats[] = {" 1 ч 0 мин", "3", "0.250", "0.050", "0.150"};
    for (int r = 0; r < 5; ++r) EXPECT_EQ(Stats()->Cell(1, r), U(stats[r])) << r;
    EXPECT_EQ(Stats()->Cell(0, 4), U("Среднее"));

    // The chart: one point per measurement, at the instant the time axis labels with
    // the record's own wall-clock time; automatic limits fitted to the points.
    ASSERT_EQ(Form1->Series12->count(), 3);
    for (int i = 0; i < 3; ++i) {
        const QPointF p = Form1->Series12->at(i);
        const QDateTime shown = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(p.x()));
        EXPECT_EQ(shown.toString("hh.mm.ss dd/MM/yy"), expected[i][1]);
        EXPECT_FLOAT_EQ(static_cast<float>(p.y()), Grid()->Cell(2, i + 1).toFloat());
    }
    // Automatic limits: every point inside the plot, the time limits on whole minutes,
    // the highest point a little below the top.
    EXPECT_LT(Form1->Chart5Bottom->min().toMSecsSinceEpoch(), static_cast<qint64>(Form1->Series12->at(0).x()));
    EXPECT_GT(Form1->Chart5Bottom->max().toMSecsSinceEpoch(), static_cast<qint64>(Form1->Series12->at(2).x()));
    EXPECT_EQ(Form1->Chart5Bottom->min().time().second(), 0);
    EXPECT_EQ(Form1->Chart5Bottom->max().time().second(), 0);
    EXPECT_DOUBLE_EQ(Form1->Chart5Left->min(), 0);
    EXPECT_FLOAT_EQ(static_cast<float>(Form1->Chart5Left->max()), 0.25f * 1.05f);
    EXPECT_EQ(Form1->Chart5Bottom->format(), "hh:mm");
    ExpectReadableLabels(Form1->Chart5Bottom);
}

TEST_F(ArchiveTab, FullMemoryTakesSixteenBlocksEmptyMemoryOne) {
    ImageBuilder full;
    full.Mark().Measures(kArchiveRecordCount - 1);
    std::fill(full.image.end() - 8, full.image.end(), uint8_t{0x11});
    Load(full);
    Boot();
    Stats()->SetCell(1, 0, "kept");
    Form1->Button1->click();
    std::vector<uint16_t> all;
    for (int i = 0; i < 16; ++i) all.push_back(static_cast<uint16_t>(i * 2048));
    EXPECT_EQ(ArchiveReads(), all);
    EXPECT_EQ(Form1->ProgressBar2->value(), 16);
    EXPECT_EQ(Grid()->RowCount(), kArchiveRecordCount);  // 3275 measurements and the header
    EXPECT_EQ(Grid()->Cell(0, kArchiveRecordCount - 1), "3276");
    EXPECT_EQ(Stats()->Cell(1, 1), "3275");

    // Empty memory: one exchange, read well, no session found, the view as it was.
    Load(ImageBuilder{});
    simulator.ClearLog();
    Stats()->SetCell(1, 0, "kept");
    Form1->Edit2->setText("old");
    Form1->Button1->click();
    EXPECT_EQ(ArchiveReads(), std::vector<uint16_t>{0});
    EXPECT_EQ(StatusText(), U("Прочитано"));
    EXPECT_TRUE(Archive.ArchiveLoaded);
    EXPECT_EQ(Archive.SessionCount, 0);
    EXPECT_EQ(Form1->Edit2->text(), U(" 1 из 0"));
    EXPECT_EQ(Grid()->RowCount(), 3276);
    EXPECT_EQ(FilledRows(), 0);
    EXPECT_EQ(Stats()->Cell(1, 0), "kept");
    EXPECT_EQ(Form1->Series12->count(), 0);
    // The rest of the copy is empty too: nothing of the earlier download is left.
    EXPECT_TRUE(std::all_of(Archive.ArchiveImage.begin(), Archive.ArchiveImage.end(), [](uint8_t x) { return x == 0; }));
}

TEST_F(ArchiveTab, FailureLimitCoversTheWholeDownload) {
    struct Case {
        std::map<int, int> corruptAfter;  // attempt -> answers to corrupt from the next one
        int first;                        // answers corrupted from the start
        size_t exchanges;
        bool read;
    } cases[] = {
        {{{5, 3}, {9, 3}}, 4, 13, true},   // ten failures around good blocks
        {{{5, 3}, {9, 4}}, 4, 13, false},  // the eleventh ends the download
        {{}, 11, 11, false},
    };
    Load(ThreeSessions());
    Boot();
    std::map<int, int> plan;
    OnAttempt([&](int attempt) {
        if (auto it = plan.find(attempt); it != plan.end()) simulator.CorruptNextCrc(it->second);
    });
    for (const Case& c : cases) {
        // A good download first, so that a failed one has something to keep.
        plan.clear();
        Form1->Button1->click();
        ASSERT_TRUE(Archive.ArchiveLoaded);
        const QString edit = Form1->Edit2->text();
        const QString stat = Stats()->Cell(1, 1);
        Link.LinkErrorCount = 5;
        simulator.ClearLog();
        plan = c.corruptAfter;
        simulator.CorruptNextCrc(c.first);
        Form1->Button1->click();
        EXPECT_EQ(ArchiveReads().size(), c.exchanges);
        EXPECT_EQ(Archive.ArchiveLoaded, c.read);
        EXPECT_EQ(StatusText(), c.read ? U("Прочитано") : U("Ошибка связи"));
        EXPECT_EQ(StatusRed(), !c.read);
        EXPECT_EQ(Link.LinkErrorCount, c.read ? 0 : 5);
        EXPECT_TRUE(Form1->ProgressBar2->isHidden());
        if (!c.read) {
            EXPECT_EQ(Form1->Edit2->text(), edit);
            EXPECT_EQ(Stats()->Cell(1, 1), stat);
            EXPECT_EQ(Grid()->RowCount(), 3276);
            EXPECT_EQ(FilledRows(), 0);
            EXPECT_EQ(Form1->Series12->count(), 0);
            // Session buttons stay idle after a failed download.
            Form1->BitBtn11->click();
            EXPECT_EQ(FilledRows(), 0);
        }
    }
    simulator.CorruptNextCrc(0);
    Settings.UiLanguage = 2;
    simulator.CorruptNextCrc(11);
    Form1->Button1->click();
    EXPECT_EQ(StatusText(), "Connection error");
}

TEST_F(ArchiveTab, NoOpenPortChangesNothing) {
    Load(ThreeSessions());
    Boot();
    Form1->Button1->click();
    ASSERT_EQ(Grid()->RowCount(), 17);
    const ArchiveStateT before = Archive;
    const QString cell = Grid()->Cell(1, 1);
    for (int lang : {1, 2}) {
        Settings.UiLanguage = lang;
        Link.PortHandle.reset();
        simulator.ClearLog();
        Form1->Button1->click();
        EXPECT_EQ(StatusText(), lang == 1 ? U("Невозможно открыть порт") : U("Port opening error"));
        EXPECT_TRUE(StatusRed());
        EXPECT_TRUE(ArchiveReads().empty());
        EXPECT_EQ(Archive.ArchiveLoaded, before.ArchiveLoaded);
        EXPECT_EQ(Archive.SessionCount, before.SessionCount);
        EXPECT_EQ(Archive.CurrentSession, before.CurrentSession);
        EXPECT_EQ(Grid()->RowCount(), 17);
        EXPECT_EQ(Grid()->Cell(1, 1), cell);
        EXPECT_TRUE(Form1->ProgressBar2->isHidden());
        EXPECT_TRUE(Form1->Timer2->Enabled());
    }
}

TEST_F(ArchiveTab, EnglishTexts) {
    Load(ThreeSessions());
    Boot();
    Settings.UiLanguage = 2;
    Form1->Button1->click();
    EXPECT_EQ(StatusText(), "Read OK");
    EXPECT_EQ(Form1->Edit2->text(), " 1 of 4");
    const char* headers[] = {" #", "Time, sec", "Dose rate"};
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Grid()->Cell(c, 0), headers[c]);
    const char* labels[] = {"Working time", "Samples", "Maximum", "Minimum", "Average"};
    for (int r = 0; r < 5; ++r) EXPECT_EQ(Stats()->Cell(0, r), labels[r]);
    EXPECT_EQ(Stats()->Cell(1, 0), "0 min");
}

TEST_F(ArchiveTab, SessionButtonsWrapAndKeepTheLastShownTexts) {
    Load(ThreeSessions());  // download numbering: 1 = 5, 2 = 40, 3 = 3, 4 = 200 measurements
    Boot();
    // Before any download the buttons do nothing.
    Form1->BitBtn5->click();
    Form1->BitBtn11->click();
    EXPECT_EQ(Archive.CurrentSession, 0);
    EXPECT_TRUE(Form1->Edit2->text().isEmpty());

    Form1->Button1->click();
    ASSERT_EQ(Archive.SessionCount, 4);
    // The buttons number the sessions as the download does, and wrap at both ends.
    struct Step {
        QPushButton* button;
        int session;
        const char* edit;
        int rows;          // grid row count
        int measurements;  // filled rows
        int firstRecord;
    } steps[] = {
        {Form1->BitBtn5, 4, " 4 из 4", 201, 200, 53},  // 1 -> 0 -> wraps to the last
        {Form1->BitBtn11, 1, " 1 из 4", 17, 5, 2},     // 4 -> 5 -> wraps to 1
        {Form1->BitBtn11, 2, " 2 из 4", 41, 40, 8},
        {Form1->BitBtn11, 3, " 3 из 4", 17, 3, 49},    // the walk sets the row count back
        {Form1->BitBtn5, 2, " 2 из 4", 41, 40, 8},
    };
    for (const Step& s : steps) {
        const QString statsBefore = Stats()->Cell(1, 1);
        s.button->click();
        SCOPED_TRACE(s.session);
        EXPECT_EQ(Archive.CurrentSession, s.session);
        EXPECT_EQ(Form1->Edit2->text(), U(s.edit));
        EXPECT_EQ(Grid()->RowCount(), s.rows);
        EXPECT_EQ(FilledRows(), 3 * s.measurements);
        EXPECT_EQ(Form1->Series12->count(), s.measurements);
        if (s.measurements > 0) {
            EXPECT_EQ(Grid()->Cell(0, 1), QString::number(s.firstRecord));
            EXPECT_EQ(Stats()->Cell(1, 1), QString::number(s.measurements));
        } else {
            EXPECT_EQ(Stats()->Cell(1, 1), statsBefore);
        }
    }
}

TEST_F(ArchiveTab, EverySessionIsShownAndSavedWhereverItsMeasurementsLie) {
    struct Case {
        const char* what;
        const char* pattern;
        std::vector<std::vector<int>> sessions;  // record numbers of sessions 1, 2, ...
        const char* firstLine;                   // the first line of сеанс1.txt
    } cases[] = {
        // Measurements from the start of memory, no mark in front (kept recording after
        // an erase): they are session 1.
        {"no mark in front", "MMM0MM", {{1, 2, 3}, {5, 6}}, "1 07:05:09 21/03/09 0.2\r\n"},
        // A dated record of value 0 right before empty memory: the newest session counts.
        {"dated zero at the end", "0MM0MMN", {{2, 3}, {5, 6}}, "2 07:05:09 21/03/09 0.2\r\n"},
    };
    ASSERT_NO_FATAL_FAILURE(Boot());
    QDir dir(workdir.path());
    auto shownRecords = [] {
        std::vector<int> out;
        for (int r = 1; r < Grid()->RowCount() && !Grid()->Cell(0, r).isEmpty(); ++r)
            out.push_back(Grid()->Cell(0, r).toInt());
        return out;
    };
    auto fileRecords = [&](int session) {
        std::vector<int> out;
        QFile f(dir.filePath(SessionFileName(session)));
        if (!f.open(QIODevice::ReadOnly)) return std::vector<int>{-1};
        for (const QByteArray& line : f.readAll().split('\n'))
            if (!line.isEmpty()) out.push_back(line.split(' ').front().toInt());
        return out;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const QString& name : dir.entryList({"*.txt"})) dir.remove(name);
        Form1->CheckBox1->setChecked(false);
        Load(ImageBuilder::FromPattern(c.pattern));
        Form1->Button1->click();
        const int n = static_cast<int>(c.sessions.size());
        ASSERT_EQ(Archive.SessionCount, n);
        EXPECT_EQ(Archive.CurrentSession, 1);
        EXPECT_EQ(Form1->Edit2->text(), U(" 1 из 2"));
        EXPECT_EQ(shownRecords(), c.sessions[0]);
        EXPECT_EQ(FilledRows(), 3 * static_cast<int>(c.sessions[0].size()));
        EXPECT_EQ(Form1->Series12->count(), static_cast<int>(c.sessions[0].size()));
        EXPECT_EQ(Stats()->Cell(1, 1), QString::number(c.sessions[0].size()));

        // Forward through every session and round to the first, then back over the start.
        Form1->CheckBox1->setChecked(true);
        const int order[] = {2, 1, 2};
        for (int i = 0; i < 3; ++i) {
            (i < 2 ? Form1->BitBtn11 : Form1->BitBtn5)->click();
            const int s = order[i];
            const std::vector<int>& records = c.sessions[static_cast<size_t>(s - 1)];
            SCOPED_TRACE(s);
            EXPECT_EQ(Archive.CurrentSession, s);
            EXPECT_EQ(Form1->Edit2->text(), SessionText(s, n, 1));
            EXPECT_EQ(shownRecords(), records);
            EXPECT_EQ(Form1->Series12->count(), static_cast<int>(records.size()));
            EXPECT_EQ(Stats()->Cell(1, 1), QString::number(records.size()));
            EXPECT_EQ(fileRecords(s), records);
        }
        QFile one(dir.filePath(SessionFileName(1)));
        ASSERT_TRUE(one.open(QIODevice::ReadOnly));
        EXPECT_TRUE(one.readAll().startsWith(c.firstLine));
    }
}

TEST_F(ArchiveTab, SessionButtonsWithNoSessionFound) {
    Load(ImageBuilder::FromPattern("0N-F"));  // written records, but no measurement
    ASSERT_NO_FATAL_FAILURE(Boot());
    Form1->Button1->click();
    ASSERT_EQ(Archive.SessionCount, 0);
    EXPECT_EQ(FilledRows(), 0);
    const QString stats = Stats()->Cell(1, 1);
    Form1->CheckBox1->setChecked(true);
    Form1->BitBtn11->click();  // 1 -> 2 -> wraps to 1, which has no measurement
    EXPECT_TRUE(QDir(workdir.path()).entryList({"*.txt"}).isEmpty());  // and so no file
    EXPECT_EQ(Archive.CurrentSession, 1);
    EXPECT_EQ(FilledRows(), 0);
    EXPECT_EQ(Form1->Series12->count(), 0);
    EXPECT_EQ(Form1->Edit2->text(), U(" 1 из 0"));  // the texts of the view before stay
    EXPECT_EQ(Stats()->Cell(1, 1), stats);
    for (int i = 0; i < 3; ++i) {
        Form1->BitBtn5->click();
        EXPECT_EQ(Archive.CurrentSession, 0);
        EXPECT_EQ(FilledRows(), 0);
        EXPECT_EQ(Form1->Edit2->text(), U(" 1 из 0"));
    }
    EXPECT_TRUE(QDir(workdir.path()).entryList({"*.txt"}).isEmpty());
}

TEST_F(ArchiveTab, StatisticsOfDamagedRecordsStayNumbers) {
    Load(ImageBuilder::FromPattern("0HHM"));
    ASSERT_NO_FATAL_FAILURE(Boot());
    Form1->Button1->click();
    ASSERT_EQ(Stats()->Cell(1, 1), "3");
    for (int r = 2; r <= 4; ++r) {
        const QString text = Stats()->Cell(1, r);
        EXPECT_FALSE(text.contains("INF", Qt::CaseInsensitive)) << r << " " << text.toStdString();
        EXPECT_TRUE(text.contains(QRegularExpression("^[0-9]"))) << r << " " << text.toStdString();
    }
    EXPECT_EQ(Stats()->Cell(1, 2), Grid()->Cell(2, 1));  // the maximum is a damaged record's value
    EXPECT_EQ(Stats()->Cell(1, 3), "0.200");
}

TEST_F(ArchiveTab, TickedBoxWritesTheSessionsThatHaveMeasurements) {
    Load(ThreeSessions());
    Boot();
    Form1->Button1->click();
    QDir dir(workdir.path());
    EXPECT_TRUE(dir.entryList({"*.txt"}).isEmpty());  // the download writes no file
    Form1->CheckBox1->setChecked(true);
    Form1->BitBtn11->click();  // session 2: 40 measurements
    Form1->BitBtn5->click();   // session 1: the 5 measurements
    EXPECT_EQ(dir.entryList({"*.txt"}, QDir::Files, QDir::Name), (QStringList{U("сеанс1.txt"), U("сеанс2.txt")}));
    QFile f(dir.filePath(U("сеанс1.txt")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), 6);  // five lines and nothing after the last end
    // Session 1 is records 2..6 (first record a mark), values 0.10, 0.11, ...
    EXPECT_EQ(lines[0], QByteArray("2 07:05:09 21/03/09 0.1\r"));
    EXPECT_EQ(lines[4], QByteArray("6 07:05:49 21/03/09 0.14\r"));
    EXPECT_TRUE(lines[5].isEmpty());

    // Unticked: stepping writes nothing more.
    QFile::remove(dir.filePath(U("сеанс2.txt")));
    Form1->CheckBox1->setChecked(false);
    Form1->BitBtn11->click();
    EXPECT_EQ(Archive.CurrentSession, 2);
    EXPECT_FALSE(dir.exists(U("сеанс2.txt")));
}

TEST_F(ArchiveTab, EraseEmptiesTheViewWithOrWithoutThePort) {
    Load(ThreeSessions());
    Boot();
    for (bool portThere : {false, true}) {
        SCOPED_TRACE(portThere);
        Form1->Button1->click();
        ASSERT_GT(FilledRows(), 0);
        ASSERT_GT(Form1->Series12->count(), 0);
        Form1->StatusBar1->DrawStatusMessage(QString(), false);
        if (!portThere) Link.DevicePort = 99;  // no such port
        simulator.ClearLog();
        Form1->Button7->click();
        EXPECT_EQ(FilledRows(), 0);
        for (int c = 0; c < 3; ++c) EXPECT_TRUE(Grid()->Cell(c, 0).isEmpty()) << c;  // every row, the header too
        for (int r = 0; r < 5; ++r) EXPECT_TRUE(Stats()->Cell(1, r).isEmpty()) << r;
        EXPECT_FALSE(Stats()->Cell(0, 0).isEmpty());
        EXPECT_EQ(Form1->Series12->count(), 0);
        EXPECT_FALSE(Archive.ArchiveLoaded);
        EXPECT_EQ(Archive.SessionCount, 0);
        EXPECT_EQ(Archive.CurrentSession, 0);
        EXPECT_TRUE(std::all_of(Archive.ArchiveImage.begin(), Archive.ArchiveImage.end(), [](uint8_t x) { return x == 0; }));
        if (portThere) {
            ASSERT_TRUE(simulator.WaitForRequests(1, 2000));
            EXPECT_EQ(Hex(simulator.RawReceived()), "00 55 00 00 00 00 28 0C");
            EXPECT_TRUE(StatusText().isEmpty());  // the erase reports nothing when it could send
        } else {
            EXPECT_EQ(StatusText(), U("Невозможно открыть порт"));
            EXPECT_TRUE(StatusRed());
        }
        // Session buttons idle after the erase.
        Form1->BitBtn11->click();
        EXPECT_EQ(Archive.CurrentSession, 0);
        EXPECT_EQ(FilledRows(), 0);
        if (!portThere) {
            Link.DevicePort = 3;
            // With no port nothing went out: the next request is the download's first.
            Load(ThreeSessions());
            ASSERT_TRUE(OpenDevicePort());
            Form1->Button1->click();
            ASSERT_FALSE(simulator.Requests().empty());
            EXPECT_EQ(simulator.Requests().front().command, ArchiveReadCommand);
        }
    }
}

TEST_F(ArchiveTab, ChartButtonsMoveTheAxesUntilAutomaticAgain) {
    Load(ThreeSessions());
    Boot();
    Form1->ComboBox9->setCurrentIndex(2);
    EXPECT_EQ(Form1->Chart5Bottom->format(), "dd.MM.yyyy");  // takes effect at the next walk
    Form1->Button1->click();
    EXPECT_EQ(Form1->Chart5Bottom->format(), "hh:mm dd.MM.yy");
    // Five records ten seconds apart, on an automatic axis of whole minutes.
    const qint64 t0 = Form1->Chart5Bottom->min().toMSecsSinceEpoch();
    const qint64 t1 = Form1->Chart5Bottom->max().toMSecsSinceEpoch();
    ASSERT_GE(t1 - t0, 60000);
    ASSERT_EQ((t1 - t0) % 60000, 0);
    const qint64 span = t1 - t0;
    const double top = Form1->Chart5Left->max();

    // The first press works on the range drawn.
    Form1->BitBtn1->click();  // time zoom in
    EXPECT_EQ(Form1->Chart5Bottom->min().toMSecsSinceEpoch(), t0);
    EXPECT_NEAR(Form1->Chart5Bottom->max().toMSecsSinceEpoch(), t1 - span / 10, 1);
    Form1->BitBtn4->click();  // later
    EXPECT_NEAR(Form1->Chart5Bottom->min().toMSecsSinceEpoch(), t0 + span * 9 / 100, 1);
    Form1->BitBtn6->click();  // value zoom in
    EXPECT_FLOAT_EQ(static_cast<float>(Form1->Chart5Left->max()), static_cast<float>(top * 0.9));
    Form1->BitBtn9->click();  // value down, below 0
    EXPECT_LT(Form1->Chart5Left->min(), 0);
    const double low = Form1->Chart5Left->min();
    Form1->BitBtn9->click();  // not again
    EXPECT_EQ(Form1->Chart5Left->min(), low);

    // Another session keeps the manual window.
    const qint64 manualMin = Form1->Chart5Bottom->min().toMSecsSinceEpoch();
    Form1->ComboBox9->setCurrentIndex(1);
    Form1->BitBtn11->click();
    EXPECT_EQ(Form1->Chart5Bottom->format(), "dd.MM.yy");
    EXPECT_EQ(Form1->Chart5Bottom->min().toMSecsSinceEpoch(), manualMin);
    EXPECT_EQ(Form1->Chart5Left->min(), low);

    // Automatic again: fitted to the points shown now, with a margin.
    Form1->BitBtn10->click();
    const int n = Form1->Series12->count();
    ASSERT_GT(n, 0);
    double maxY = 0;
    for (int i = 0; i < n; ++i) maxY = std::max(maxY, Form1->Series12->at(i).y());
    EXPECT_LT(Form1->Chart5Bottom->min().toMSecsSinceEpoch(), static_cast<qint64>(Form1->Series12->at(0).x()));
    EXPECT_GT(Form1->Chart5Bottom->max().toMSecsSinceEpoch(), static_cast<qint64>(Form1->Series12->at(n - 1).x()));
    EXPECT_EQ(Form1->Chart5Left->min(), 0);
    EXPECT_DOUBLE_EQ(Form1->Chart5Left->max(), maxY * 1.05);
    ExpectReadableLabels(Form1->Chart5Bottom);
}

// A session shorter than a minute, in each of the three formats, before and after a
// manual zoom: the labels differ, and they fit side by side.
TEST_F(ArchiveTab, TimeLabelsNeverRepeatAndFit) {
    ImageBuilder b;
    b.Mark().Measures(6);  // 50 seconds
    Load(b);
    Boot();
    // Before any download: today's date at each end, nothing cut.
    ExpectReadableLabels(Form1->Chart5Bottom);
    EXPECT_EQ(Form1->Chart5Bottom->min().date(), QDate::currentDate());
    Form1->Button1->click();
    for (int item : {0, 1, 2}) {
        Form1->ComboBox9->setCurrentIndex(item);
        Form1->BitBtn10->click();
        Form1->BitBtn11->click();  // the one session again, in this format
        SCOPED_TRACE(Form1->Chart5Bottom->format().toStdString());
        ExpectReadableLabels(Form1->Chart5Bottom);
        for (int i = 0; i < Form1->Series12->count(); ++i) {
            const qint64 x = static_cast<qint64>(Form1->Series12->at(i).x());
            EXPECT_LT(Form1->Chart5Bottom->min().toMSecsSinceEpoch(), x);
            EXPECT_GT(Form1->Chart5Bottom->max().toMSecsSinceEpoch(), x);
        }
        for (int press = 0; press < 12; ++press) {
            Form1->BitBtn1->click();  // zoom in far below one label step
            ExpectReadableLabels(Form1->Chart5Bottom);
        }
        EXPECT_FALSE(Form1->Chart5Bottom->labelsVisible());  // 50 s / 3.5: no two minutes
    }
    Form1->BitBtn10->click();  // automatic again: labels again
    EXPECT_TRUE(Form1->Chart5Bottom->labelsVisible());
}
