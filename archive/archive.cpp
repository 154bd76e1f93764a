#include "archive/archive.h"

#include <algorithm>
#include <limits>

#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "link/codecs.h"
#include "link/link.h"
#include "monitor/presentation.h"
#include "settings/parameters.h"
#include "shell/texts.h"

namespace veresk {

ArchiveStateT Archive;

void ResetArchiveState() { Archive = ArchiveStateT{}; }

// ---------------------------------------------------------------- records and times

bool RecordEmpty(const uint8_t* record) {
    return std::all_of(record, record + kArchiveRecordSize, [](uint8_t b) { return b == 0; });
}

double RecordValue(const uint8_t* record) { return DecodeDeviceFloat(record); }

namespace {

long long FloorDiv(long long a, long long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days from 1970-01-01 to year-month-day, month 1..12 (proleptic Gregorian).
long long CivilDays(long long y, int m, int d) {
    y -= m <= 2;
    const long long era = FloorDiv(y, 400);
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

QString TwoDigits(int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

}  // namespace

long long DaysFromCivil(long long year, int month, int day) {
    const long long m0 = static_cast<long long>(month) - 1;
    year += FloorDiv(m0, 12);
    const int m = static_cast<int>(m0 - FloorDiv(m0, 12) * 12) + 1;
    return CivilDays(year, m, 1) + (static_cast<long long>(day) - 1);
}

long long RecordTime(const uint8_t* r) {
    const long long days = DaysFromCivil(2000 + DecodeBcd(r[9]), DecodeBcd(r[8]), DecodeBcd(r[7]));
    return days * 86400 + DecodeBcd(r[6]) * 3600LL + DecodeBcd(r[5]) * 60LL + DecodeBcd(r[4]);
}

double ChartDayCount(long long recordTime) { return static_cast<double>(recordTime) / 86400.0 + 25569.0; }

long long RecordTimeOfDayCount(double dayCount) { return std::llround((dayCount - 25569.0) * 86400.0); }

QString RecordTimeText(const uint8_t* r) {
    return TwoDigits(DecodeBcd(r[6])) + '.' + TwoDigits(DecodeBcd(r[5])) + '.' + TwoDigits(DecodeBcd(r[4])) + ' ' +
           TwoDigits(DecodeBcd(r[7])) + '/' + TwoDigits(DecodeBcd(r[8])) + '/' + TwoDigits(DecodeBcd(r[9]));
}

// ---------------------------------------------------------------- texts

QString ArchiveValueText(double value, const QLocale& locale) { return FormatFixedPrecision(value, 6, 3, locale); }

QString WorkingTimeText(long long seconds, int uiLanguage) {
    const long long d = seconds / 86400;
    const long long h = (seconds % 86400) / 3600;
    const long long m = (seconds % 3600) / 60;
    const bool en = IsEnglish(uiLanguage);
    const QString hours = en ? QStringLiteral(" h ") : QStringLiteral(" ч ");
    const QString minutes = en ? QStringLiteral(" min") : QStringLiteral(" мин");
    QString body;
    if (d != 0) {
        body = QString::number(d) + ' ' + DayWord(static_cast<uint32_t>(d), uiLanguage) + ' ' + QString::number(h) +
               hours + QString::number(m) + minutes;
    } else if (h != 0) {
        body = QString::number(h) + hours + QString::number(m) + minutes;
    } else {
        body = QString::number(m) + minutes;  // also the "0 min" of a session shorter than a minute
    }
    return en ? body : ' ' + body;
}

QString SessionText(int session, int sessionCount, int uiLanguage) {
    return ' ' + QString::number(session) + (IsEnglish(uiLanguage) ? QStringLiteral(" of ") : QStringLiteral(" из ")) +
           QString::number(sessionCount);
}

QString TimeAxisFormat(int item) {
    switch (item) {
        case 0: return QStringLiteral("hh:mm");
        case 1: return QStringLiteral("dd.MM.yy");
        case 2: return QStringLiteral("hh:mm dd.MM.yy");
        default: return QString();
    }
}

// ---------------------------------------------------------------- the session walk

std::vector<int> MeasurementSessions(const ArchiveImageT& image, int& counter) {
    std::vector<int> sessions(kArchiveRecordCount, kNoSession);
    long long current = 0;
    long long previous = 0;
    int highest = 0;  // the highest session number that holds a measurement
    // Memory that does not begin with a mark begins with a session all the same.
    if (!RecordEmpty(ArchiveRecord(image, 0))) ++counter;
    for (int k = 0; k < kArchiveRecordCount; ++k) {
        const uint8_t* rec = ArchiveRecord(image, k);
        const bool measurement = RecordValue(rec) > 0;
        if (measurement) current = RecordTime(rec);
        // A clock that went back starts a new session, mark or no mark.
        if (current < previous) ++counter;
        previous = current;

        if (measurement) {
            sessions[static_cast<size_t>(k)] = counter;
            highest = std::max(highest, counter);
        } else {
            // A mark opens a session only when a written record follows it.  The record
            // after the last one lies past the end of the memory and counts as empty.
            if (RecordEmpty(rec)) ++counter;
            const bool nextEmpty = k + 1 >= kArchiveRecordCount || RecordEmpty(ArchiveRecord(image, k + 1));
            if (nextEmpty) --counter;
        }
    }
    // A dated record that is no measurement, right before empty memory, lowers the
    // counter: the newest session is the highest number that holds a measurement.
    counter = highest;
    return sessions;
}

SessionView ShowSession(const ArchiveImageT& image, int session, int& counter, const QLocale& locale) {
    SessionView view;
    SessionStats& st = view.stats;
    bool anyMeasurement = false;
    const std::vector<int> sessions = MeasurementSessions(image, counter);
    for (int k = 0; k < kArchiveRecordCount; ++k) {
        const int s = sessions[static_cast<size_t>(k)];
        anyMeasurement = anyMeasurement || s != kNoSession;
        if (s != session) continue;
        const uint8_t* rec = ArchiveRecord(image, k);
        const long long time = RecordTime(rec);
        // A damaged record can decode beyond the float range: keep it finite.
        const float v =
            static_cast<float>(std::min(RecordValue(rec), static_cast<double>(std::numeric_limits<float>::max())));
        view.rows.push_back({k + 1, RecordTimeText(rec), ArchiveValueText(v, locale)});
        view.points.emplace_back(ChartDayCount(time), v);
        st.sum += v;
        if (v > st.maximum) st.maximum = v;
        // The first value is the minimum so far, however large (the start value
        // 10000000 would otherwise outlast a session of damaged records).
        if (st.count == 0 || !(v >= st.minimum)) st.minimum = v;
        if (st.count == 0) st.firstTime = time;
        st.lastTime = time;
        ++st.count;
    }
    if (anyMeasurement) view.rowCount = st.count <= 16 ? 17 : st.count + 1;
    return view;
}

std::array<QString, 5> SessionStatsTexts(const SessionStats& st, int uiLanguage, const QLocale& locale) {
    const double average = st.count > 0 ? st.sum / st.count : 0.0;
    return {WorkingTimeText(st.lastTime - st.firstTime, uiLanguage), QString::number(st.count),
            ArchiveValueText(st.maximum, locale), ArchiveValueText(st.minimum, locale),
            ArchiveValueText(average, locale)};
}

// ---------------------------------------------------------------- download

DownloadOutcome DownloadArchive(const std::function<void(int attempts)>& progress) {
    if (!Link.PortHandle) return DownloadOutcome::NoPort;
    std::fill_n(Link.IoBuffer.begin(), 3600, uint8_t{0});
    Archive.CurrentSession = 1;
    Archive.SessionCount = 0;

    int attempts = 0;
    int failures = 0;  // over the whole download; a good block does not clear it
    int address = 0;
    int blocksLeft = kArchiveBlockCount;
    for (;;) {
        if (failures > kArchiveFailureLimit) {
            Archive.ArchiveLoaded = false;
            return DownloadOutcome::LinkFailure;
        }
        ReadTransaction(ArchiveReadCommand, kArchiveBlockSize, static_cast<uint16_t>(address));
        ++attempts;
        if (progress) progress(attempts);
        if (JudgeAnswer(kArchiveBlockSize) != AnswerVerdict::Good) {
            ++failures;
            continue;  // the same block again
        }
        const auto* block = Link.IoBuffer.data();
        std::copy_n(block, kArchiveBlockSize, Archive.ArchiveImage.begin() + address);
        const bool allZero = std::all_of(block, block + kArchiveBlockSize, [](uint8_t b) { return b == 0; });
        address += kArchiveBlockSize;
        --blocksLeft;
        if (allZero) {
            // The device's memory is empty from here on; what an earlier download left
            // behind in the copy must not be shown as part of this archive.
            std::fill(Archive.ArchiveImage.begin() + address, Archive.ArchiveImage.end(), uint8_t{0});
            break;
        }
        if (blocksLeft == 0) break;
    }
    Archive.ArchiveLoaded = true;
    Link.LinkErrorCount = 0;
    return DownloadOutcome::Read;
}

void ClearArchive() {
    Archive.ArchiveImage.fill(0);
    Archive.SessionCount = 0;
    Archive.CurrentSession = 0;
    Archive.ArchiveLoaded = false;
}

// ---------------------------------------------------------------- session text file

QString SessionFileName(int number) { return QStringLiteral("сеанс") + QString::number(number) + QStringLiteral(".txt"); }

namespace {

// printf("%g") of a number, always with '.', whatever the C library's locale.
QByteArray GeneralFormat(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    return QByteArray(buf, static_cast<int>(res.ptr - buf));
}

}  // namespace

QByteArray SessionFileLine(const GridRow& row, const QLocale& locale) {
    QByteArray line;
    bool ok = false;
    const int record = row.record.trimmed().toInt(&ok);
    line += ok ? GeneralFormat(record) : row.record.toLatin1();
    // The time text is six two-digit fields: hour.minute.second day/month/year.
    static const QRegularExpression separators(QStringLiteral("[. /]"));
    QStringList f = row.time.split(separators);
    while (f.size() < 6) f.append(QString());
    line += ' ' + (f[0] + ':' + f[1] + ':' + f[2]).toLatin1();
    line += ' ' + (f[3] + '/' + f[4] + '/' + f[5]).toLatin1();
    const float value = locale.toFloat(row.value.trimmed(), &ok);
    line += ' ' + (ok ? GeneralFormat(value) : row.value.toLatin1());
    return line;
}

void SaveSessionFile(int number, const std::vector<GridRow>& rows, const QLocale& locale) {
    QFile file(SessionFileName(number));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    for (const GridRow& row : rows) {
        if (row.record.isEmpty()) continue;
        file.write(SessionFileLine(row, locale) + "\r\n");
    }
    file.close();
}

// ---------------------------------------------------------------- chart navigation

namespace {
double Tenth(double x) { return static_cast<double>(kChartStep) * x; }
}  // namespace

bool TimeZoomIn(AxisLimits& a) {
    if (!(a.min < a.max - Tenth(a.max - a.min))) return false;
    a.automatic = false;
    a.max = a.max - Tenth(a.max - a.min);
    return true;
}

bool TimeZoomOut(AxisLimits& a) {
    if (!(a.min < a.max + Tenth(a.max - a.min))) return false;
    a.automatic = false;
    a.max = a.max + Tenth(a.max - a.min);
    return true;
}

bool TimeLater(AxisLimits& a) {
    const double s = Tenth(a.max - a.min);
    if (!(a.max + s > a.min + s && a.min + s < a.max && a.max >= 0)) return false;
    a.automatic = false;
    a.min += s;
    a.max += s;
    return true;
}

bool TimeEarlier(AxisLimits& a) {
    const double s = Tenth(a.max - a.min);
    if (!(a.max - s > a.min - s && a.min - s < a.max && a.min >= 0)) return false;
    a.automatic = false;
    a.min -= s;
    a.max -= s;
    return true;
}

bool ValueZoomIn(AxisLimits& a) {
    if (!(a.min < a.max - Tenth(a.max))) return false;
    a.automatic = false;
    a.max = a.max - Tenth(a.max);
    return true;
}

bool ValueZoomOut(AxisLimits& a) {
    if (!(a.min < a.max + Tenth(a.max))) return false;
    a.automatic = false;
    a.max = a.max + Tenth(a.max);
    return true;
}

bool ValueUp(AxisLimits& a) {
    const double s = Tenth(a.max - a.min);
    if (!(a.max + s > a.min + s && a.max + s > a.min && a.max >= 0)) return false;
    a.automatic = false;
    a.max += s;  // the maximum first, so that the window never turns over
    a.min += s;
    return true;
}

bool ValueDown(AxisLimits& a) {
    const double s = Tenth(a.max - a.min);
    if (!(a.max - s > a.min - s && a.min - s < a.max && a.min >= 0)) return false;
    a.automatic = false;
    a.min -= s;  // the minimum first
    a.max -= s;
    return true;
}

void AutomaticAxes(AxisLimits& time, AxisLimits& value) {
    value.automatic = true;
    value.min = 0;
    time.automatic = true;
}

void FitAxes(AxisLimits& time, AxisLimits& value, const std::vector<QPointF>& points) {
    if (points.empty()) return;
    const auto [lo, hi] = std::minmax_element(points.begin(), points.end(),
                                              [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); });
    if (time.automatic) {
        time.min = lo->x();
        time.max = hi->x();
    }
    if (value.automatic) {
        const auto top = std::max_element(points.begin(), points.end(),
                                          [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
        value.max = top->y();
    }
}

}  // namespace veresk
