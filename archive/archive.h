#pragma once
// The device archive: 32768 bytes of memory holding 10-byte records, read in 2048-byte
// blocks with command 0x25, split into sessions and shown one session at a time.
//
// Record layout (offset: content):
//   0..3  dose rate, device float; only a value above zero makes the record a measurement
//   4..9  second, minute, hour, day, month, year (yy = 20yy), packed BCD
// A record of ten zero bytes is a session mark: followed by a non-empty record it opens
// a new session.  A measurement earlier than the one before it opens one as well, and
// memory that begins with a written record (no mark in front, as after an erase when the
// device goes on recording) opens its first session at its start.
//
// Everything here is window-free; archive/archive_tab.cpp puts it on the archive tab.
#include <QLocale>
#include <QPointF>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace veresk {

inline constexpr int kArchiveSize = 32768;
inline constexpr int kArchiveRecordSize = 10;
inline constexpr int kArchiveRecordCount = kArchiveSize / kArchiveRecordSize;  // 3276
inline constexpr int kArchiveBlockSize = 2048;
inline constexpr int kArchiveBlockCount = kArchiveSize / kArchiveBlockSize;    // 16
inline constexpr uint8_t ArchiveReadCommand = 0x25;
inline constexpr uint8_t ArchiveEraseCommand = 0x55;
// A download gives up on the first failed exchange past this many.
inline constexpr int kArchiveFailureLimit = 10;

using ArchiveImageT = std::array<uint8_t, kArchiveSize>;

struct ArchiveStateT {
    ArchiveImageT ArchiveImage{};  // the local copy of the device's archive memory
    bool ArchiveLoaded = false;    // a download read its blocks; navigation works
    int SessionCount = 0;          // sessions found by the last download's walk
    int CurrentSession = 0;        // the session shown
};

extern ArchiveStateT Archive;
void ResetArchiveState();

// ------------------------------------------------------------------ records and times

// Record k (0..3275) of the image; the last 8 bytes of the image belong to no record.
inline const uint8_t* ArchiveRecord(const ArchiveImageT& image, int k) { return image.data() + k * kArchiveRecordSize; }
bool RecordEmpty(const uint8_t* record);
double RecordValue(const uint8_t* record);

// Days from 1 January 1970 to a civil date of the proleptic Gregorian calendar.  A month
// outside 1..12 is carried into the year and a day outside the month runs on into the
// next ones (as a calendar normalisation does), so every BCD date maps somewhere.
long long DaysFromCivil(long long year, int month, int day);
// The record's date and time as stored (the device's local wall clock, no zone or
// daylight saving), in seconds since 1 January 1970 00:00 of that same clock.
long long RecordTime(const uint8_t* record);
// The chart's date-time: days since 30 December 1899, time of day as the fraction.
double ChartDayCount(long long recordTime);
// Back from a day-count to whole seconds since 1970 (rounded to the nearest second).
long long RecordTimeOfDayCount(double dayCount);

// "hh.mm.ss dd/MM/yy", every field two digits with a leading zero below 10.
QString RecordTimeText(const uint8_t* record);

// ------------------------------------------------------------------ texts

// Fixed-point with three decimals after rounding to six significant digits, in the
// locale's decimal separator ("0,150").
QString ArchiveValueText(double value, const QLocale& locale);
// The time between the first and the last measurement of a session: days, hours and
// minutes, the rest dropped.  " 1 день 0 ч 0 мин" / "1 day 0 h 0 min".
QString WorkingTimeText(long long seconds, int uiLanguage);
// " 1 из 3" / " 1 of 3".
QString SessionText(int session, int sessionCount, int uiLanguage);
// Labels of the chart's time axis for a ComboBox9 item (0 time, 1 date, 2 both), in
// Qt's date-time notation; empty for no item.
QString TimeAxisFormat(int item);

// ------------------------------------------------------------------ the session walk

struct SessionStats {
    int count = 0;
    double sum = 0;  // double: a few damaged records near the float range must not overflow it
    float maximum = 0;
    float minimum = 10000000.0f;
    long long firstTime = 0;  // RecordTime of the first and of the last counted measurement
    long long lastTime = 0;
};

struct SessionRow {
    int record = 0;  // record number as shown, k + 1
    QString time;    // RecordTimeText
    QString value;   // ArchiveValueText
};

struct SessionView {
    std::vector<SessionRow> rows;   // the shown session's measurements, in archive order
    std::vector<QPointF> points;    // x: chart day-count, y: dose rate
    SessionStats stats;
    // The grid's new row count (header included): 17 while the session has 16
    // measurements or fewer, count + 1 above that; -1 when the image holds no
    // measurement at all and the row count stays as it is.
    int rowCount = -1;
};

// Walks the whole image, assigning records to sessions with `counter`, and collects what
// session `session` shows.  Sessions are numbered from 1 when `counter` starts at 0 (the
// walk opens the first session itself when record 0 is not empty).  On return `counter`
// holds the number of sessions found: the highest session number that holds at least
// one measurement (0 for an image without any).
SessionView ShowSession(const ArchiveImageT& image, int session, int& counter, const QLocale& locale);

// The session walk alone: for each record, the session its measurement belongs to, or
// kNoSession for a record that is no measurement.  `counter` as for ShowSession.
inline constexpr int kNoSession = std::numeric_limits<int>::min();
std::vector<int> MeasurementSessions(const ArchiveImageT& image, int& counter);

// Statistics column texts: working time, count, maximum, minimum, average.
std::array<QString, 5> SessionStatsTexts(const SessionStats& stats, int uiLanguage, const QLocale& locale);

// ------------------------------------------------------------------ download

enum class DownloadOutcome {
    NoPort,       // no port open: nothing was done
    Read,         // ended at an all-zero block or after 16 blocks; ArchiveLoaded set
    LinkFailure,  // failure limit passed; ArchiveLoaded cleared
};

// Reads the archive memory over the port the last exchange left open.  Sets
// CurrentSession to 1 and SessionCount to 0 before the first exchange; `progress` gets
// the attempt count (failed attempts included) after every exchange.  On success it
// sets ArchiveLoaded and clears LinkErrorCount; a read that ends at an all-zero block
// leaves the rest of the image zero, as the device's memory is empty there.
DownloadOutcome DownloadArchive(const std::function<void(int attempts)>& progress);

// Returns the image and the state to their start (the erase command).
void ClearArchive();

// ------------------------------------------------------------------ session text file

// One row of the archive grid: record number, time text, value text.
struct GridRow {
    QString record;
    QString time;
    QString value;
};

// "сеанс<N>.txt".
QString SessionFileName(int number);
// One line of the session file without its end: "12 07:05:09 21/03/09 0.15".  The value
// is the grid text read back with `locale` in single precision and written as "%g" does,
// always with a '.'.
QByteArray SessionFileLine(const GridRow& row, const QLocale& locale);
// Writes the rows that hold a measurement (non-empty record number) to SessionFileName
// in the working directory, replacing any earlier file; CR LF line ends.  A file that
// cannot be created is silently skipped.
void SaveSessionFile(int number, const std::vector<GridRow>& rows, const QLocale& locale);

// ------------------------------------------------------------------ chart navigation

// One axis of the archive chart.  For the time axis the limits are day-counts and
// `automatic` fits both limits to the points; for the value axis `automatic` fits only
// the maximum, the minimum staying where it was set.
struct AxisLimits {
    double min = 0;
    double max = 0;
    bool automatic = false;
};

inline constexpr float kChartStep = 0.1f;

// Each returns false, changing nothing, when its condition does not hold.
bool TimeZoomIn(AxisLimits& a);      // BitBtn1: max lowered by a tenth of the span
bool TimeZoomOut(AxisLimits& a);     // BitBtn2: max raised by a tenth of the span
bool TimeLater(AxisLimits& a);       // BitBtn4: window moved a tenth of the span later
bool TimeEarlier(AxisLimits& a);     // BitBtn3: window moved a tenth of the span earlier
bool ValueZoomIn(AxisLimits& a);     // BitBtn6: max lowered by a tenth of itself
bool ValueZoomOut(AxisLimits& a);    // BitBtn7: max raised by a tenth of itself
bool ValueUp(AxisLimits& a);         // BitBtn8: window moved up a tenth of the span
bool ValueDown(AxisLimits& a);       // BitBtn9: window moved down a tenth of the span
// BitBtn10: the value axis back to an automatic maximum over a minimum of 0, the time
// axis fully automatic.
void AutomaticAxes(AxisLimits& time, AxisLimits& value);

// Fits the automatic limits to the points (nothing changes without points).
void FitAxes(AxisLimits& time, AxisLimits& value, const std::vector<QPointF>& points);

}  // namespace veresk
