#include "monitor/timeaxis.h"

#include <QSet>
#include <algorithm>

namespace veresk {

namespace {

constexpr qint64 kMinute = 60000;
constexpr qint64 kDay = 86400000;

// Label steps in minutes: minutes, hours, days, weeks, months, years.
constexpr qint64 kStepMinutes[] = {1,         2,         5,          10,         15,         20,        30,
                                   60,        120,       180,        240,        360,        480,       720,
                                   1440,      2 * 1440,  3 * 1440,   5 * 1440,   7 * 1440,   10 * 1440, 14 * 1440,
                                   30 * 1440, 61 * 1440, 91 * 1440,  182 * 1440, 365 * 1440, 730 * 1440,
                                   1826 * 1440, 3652 * 1440, 7305 * 1440, 18262 * 1440};

qint64 FloorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0); }
qint64 FloorTo(qint64 v, qint64 step) { return FloorDiv(v, step) * step; }
qint64 CeilTo(qint64 v, qint64 step) { return -FloorTo(-v, step); }

}  // namespace

QString WallLabel(qint64 wallMs, const QString& format) {
    return QDateTime::fromMSecsSinceEpoch(wallMs, Qt::UTC).toString(format);
}

bool LabelsDistinct(qint64 min, qint64 max, int count, const QString& format) {
    if (count < 2) return true;
    // The axis places tick i at min + i * (max - min) / (count - 1), in floating point.
    const double delta = static_cast<double>(max - min) / (count - 1);
    QSet<QString> seen;
    for (int i = 0; i < count; ++i) {
        const double at = static_cast<double>(min) + i * delta;
        const QString label = WallLabel(static_cast<qint64>(at), format);
        if (seen.contains(label)) return false;
        seen.insert(label);
    }
    return true;
}

TimeTicks AlignedTimeTicks(qint64 lo, qint64 hi, int maxCount, const QString& format) {
    if (hi < lo) std::swap(lo, hi);
    maxCount = std::max(maxCount, 2);
    for (const qint64 minutes : kStepMinutes) {
        const qint64 step = minutes * kMinute;
        const qint64 a = FloorTo(lo, step);
        qint64 b = CeilTo(hi, step);
        if (b == a) b = a + step;
        const qint64 count = (b - a) / step + 1;
        if (count > maxCount) continue;
        if (!LabelsDistinct(a, b, static_cast<int>(count), format)) continue;
        return {a, b, static_cast<int>(count)};
    }
    // No whole step reads differently (a time-only format over several days): the
    // limits as they are, with what labels differ there.
    return KeptTimeTicks(lo, hi > lo ? hi : lo + kMinute, maxCount, format);
}

TimeTicks KeptTimeTicks(qint64 lo, qint64 hi, int maxCount, const QString& format) {
    if (!(hi > lo)) return AlignedTimeTicks(lo, hi, maxCount, format);
    for (int n = std::max(maxCount, 2); n >= 2; --n)
        if (LabelsDistinct(lo, hi, n, format)) return {lo, hi, n, true};
    return {lo, hi, 2, false};
}

void AddTimeMargin(qint64& lo, qint64& hi) {
    const qint64 margin = std::max<qint64>((hi - lo) / 50, 1000);
    lo -= margin;
    hi += margin;
}

int LabelCountFor(int plotWidth, int labelWidth) {
    const int room = std::max(labelWidth, 1) + 16;  // a label and a gap of 16 pixels
    return std::clamp(plotWidth / room + 1, 2, 7);
}

qint64 ToWallMs(const QDateTime& local) {
    const QDateTime l = local.toLocalTime();
    return QDate(1970, 1, 1).daysTo(l.date()) * kDay + l.time().msecsSinceStartOfDay();
}

QDateTime FromWallMs(qint64 wallMs) {
    const qint64 days = FloorDiv(wallMs, kDay);
    const qint64 rest = wallMs - days * kDay;
    return QDateTime(QDate(1970, 1, 1).addDays(days), QTime::fromMSecsSinceStartOfDay(static_cast<int>(rest)),
                     Qt::LocalTime);
}

}  // namespace veresk
