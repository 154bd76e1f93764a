// Time-axis labels: whole steps, no two labels alike, room for each.
#include <gtest/gtest.h>

#include <QDateTime>

#include "monitor/timeaxis.h"

using namespace veresk;

namespace {

// Wall-clock milliseconds of a date and time of day.
qint64 Wall(int y, int mo, int d, int h, int mi, int s = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC).toMSecsSinceEpoch();
}
qint64 Today(int h, int mi, int s = 0) { return Wall(1970, 1, 1, h, mi, s); }

QStringList Labels(const TimeTicks& t, const QString& format) {
    QStringList out;
    for (int i = 0; i < t.count; ++i)
        out << WallLabel(static_cast<qint64>(t.min + i * (static_cast<double>(t.max - t.min) / (t.count - 1))), format);
    return out;
}

}  // namespace

TEST(TimeAxis, AlignedLimitsFallOnWholeStepsWithDistinctLabels) {
    struct Case {
        const char* what;
        qint64 lo, hi;
        int maxCount;
        const char* format;
        qint64 min, max;
        int count;
    };
    const Case cases[] = {
        {"14 s of ticks", Today(13, 22, 5), Today(13, 22, 19), 7, "hh:mm", Today(13, 22), Today(13, 23), 2},
        {"a point on a whole minute", Today(13, 22), Today(13, 22), 7, "hh:mm", Today(13, 22), Today(13, 23), 2},
        {"14 minutes", Today(13, 1, 10), Today(13, 14, 50), 7, "hh:mm", Today(13, 0), Today(13, 15), 4},
        {"the last half hour", Today(12, 52, 30), Today(13, 22, 30), 7, "hh:mm", Today(12, 50), Today(13, 30), 5},
        {"few labels fit", Today(13, 1, 10), Today(13, 14, 50), 3, "hh:mm", Today(13, 0), Today(13, 20), 3},
        {"over midnight", Today(23, 50), Wall(1970, 1, 2, 0, 10), 7, "hh:mm", Today(23, 50), Wall(1970, 1, 2, 0, 10), 5},
        {"50 s by date", Wall(2009, 3, 21, 7, 5, 9), Wall(2009, 3, 21, 7, 5, 59), 7, "dd.MM.yy", Wall(2009, 3, 21, 0, 0),
         Wall(2009, 3, 22, 0, 0), 2},
        {"50 s by time and date", Wall(2009, 3, 21, 7, 5, 9), Wall(2009, 3, 21, 7, 5, 59), 4, "hh:mm dd.MM.yy",
         Wall(2009, 3, 21, 7, 5), Wall(2009, 3, 21, 7, 6), 2},
        {"four days by date", Wall(2009, 3, 21, 7, 5), Wall(2009, 3, 25, 1, 0), 7, "dd.MM.yy", Wall(2009, 3, 21, 0, 0),
         Wall(2009, 3, 26, 0, 0), 6},
    };
    for (const Case& c : cases) {
        const TimeTicks t = AlignedTimeTicks(c.lo, c.hi, c.maxCount, QString::fromLatin1(c.format));
        const QStringList labels = Labels(t, QString::fromLatin1(c.format));
        EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(t.min, Qt::UTC), QDateTime::fromMSecsSinceEpoch(c.min, Qt::UTC))
            << c.what;
        EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(t.max, Qt::UTC), QDateTime::fromMSecsSinceEpoch(c.max, Qt::UTC))
            << c.what;
        EXPECT_EQ(t.count, c.count) << c.what << ": " << labels.join(' ').toStdString();
        EXPECT_TRUE(t.labels) << c.what;
        EXPECT_LE(t.min, c.lo) << c.what;
        EXPECT_GE(t.max, c.hi) << c.what;
        EXPECT_EQ(QStringList(labels).removeDuplicates(), 0) << c.what << ": " << labels.join(' ').toStdString();
    }
}

TEST(TimeAxis, TimeOnlyLabelsOverSeveralDaysStillDiffer) {
    // Whole-day steps would all read "00:00": the span is kept with labels that differ.
    const TimeTicks t = AlignedTimeTicks(Wall(2009, 3, 21, 7, 5), Wall(2009, 4, 10, 3, 0), 7, "hh:mm");
    const QStringList labels = Labels(t, "hh:mm");
    ASSERT_TRUE(t.labels);
    EXPECT_GE(t.count, 2);
    EXPECT_EQ(QStringList(labels).removeDuplicates(), 0) << labels.join(' ').toStdString();
}

TEST(TimeAxis, KeptLimitsStayAndDropLabelsThatWouldRepeat) {
    struct Case {
        const char* what;
        qint64 lo, hi;
        const char* format;
        int count;  // 0: no labels
    };
    const Case cases[] = {
        {"seven minutes", Today(13, 20, 30), Today(13, 27, 30), "hh:mm", 7},
        {"three minutes", Today(13, 20, 30), Today(13, 23, 30), "hh:mm", 4},
        {"45 s inside one minute", Today(13, 22, 5), Today(13, 22, 50), "hh:mm", 0},
        {"45 s across a minute", Today(13, 21, 50), Today(13, 22, 35), "hh:mm", 2},
        {"half a day by date", Wall(2009, 3, 21, 1, 0), Wall(2009, 3, 21, 13, 0), "dd.MM.yy", 0},
    };
    for (const Case& c : cases) {
        const TimeTicks t = KeptTimeTicks(c.lo, c.hi, 7, QString::fromLatin1(c.format));
        EXPECT_EQ(t.min, c.lo) << c.what;
        EXPECT_EQ(t.max, c.hi) << c.what;
        EXPECT_EQ(t.labels, c.count > 0) << c.what;
        if (c.count > 0) {
            EXPECT_EQ(t.count, c.count) << c.what;
            EXPECT_TRUE(LabelsDistinct(t.min, t.max, t.count, QString::fromLatin1(c.format))) << c.what;
        }
    }
    // A window of no width is widened to be drawn at all.
    const TimeTicks zero = KeptTimeTicks(Today(13, 22, 5), Today(13, 22, 5), 7, "hh:mm");
    EXPECT_LT(zero.min, zero.max);
    EXPECT_TRUE(zero.labels);
}

TEST(TimeAxis, MarginAndLabelRoom) {
    struct MarginCase {
        qint64 lo, hi, margin;
    };
    for (const MarginCase& c : {MarginCase{0, 50000, 1000}, MarginCase{0, 1000000, 20000}, MarginCase{5, 5, 1000}}) {
        qint64 lo = c.lo, hi = c.hi;
        AddTimeMargin(lo, hi);
        EXPECT_EQ(c.lo - lo, c.margin);
        EXPECT_EQ(hi - c.hi, c.margin);
    }
    struct RoomCase {
        int plot, label, count;
    };
    for (const RoomCase& c : {RoomCase{400, 95, 4}, RoomCase{710, 35, 7}, RoomCase{10, 100, 2}, RoomCase{222, 95, 3}})
        EXPECT_EQ(LabelCountFor(c.plot, c.label), c.count) << c.plot << " / " << c.label;
}

TEST(TimeAxis, WallClockRoundTripsThroughLocalTime) {
    // Whatever the time zone (run also with TZ=Asia/Novosibirsk), the local date-time
    // that the axis holds reads the wall-clock time.
    for (const QDateTime& local : {QDateTime(QDate(2009, 3, 21), QTime(7, 5, 9), Qt::LocalTime),
                                   QDateTime(QDate(1970, 1, 1), QTime(0, 0, 30), Qt::LocalTime),
                                   QDateTime(QDate(2026, 12, 10), QTime(23, 59, 59), Qt::LocalTime)}) {
        const qint64 wall = ToWallMs(local);
        EXPECT_EQ(wall, QDateTime(local.date(), local.time(), Qt::UTC).toMSecsSinceEpoch());
        EXPECT_EQ(FromWallMs(wall), local);
        EXPECT_EQ(WallLabel(wall, "hh:mm:ss dd.MM.yyyy"), local.toString("hh:mm:ss dd.MM.yyyy"));
    }
}
