#pragma once
// Time axes whose labels can be read: a date-time axis draws `count` labels evenly from
// its minimum to its maximum, each the tick's time in the axis's format.  These pure
// functions choose the limits and the label count so that no two labels read the same
// and each label has room, for the live charts (time of day, "hh:mm") and the archive
// chart (the format chosen under it).
//
// Times here are wall-clock milliseconds: milliseconds since 1 January 1970 00:00 of the
// local wall clock, counted as if that clock had no time zone (an archive day-count is
// one too, in other units).  Whole minutes and days are then plain multiples.
#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace veresk {

struct TimeTicks {
    qint64 min = 0;  // wall-clock ms
    qint64 max = 0;
    int count = 2;   // labels drawn, min and max included
    bool labels = true;  // false: any two labels would read the same, so none is drawn
};

// The text of a label at wall-clock time `wallMs`.
QString WallLabel(qint64 wallMs, const QString& format);

// True when the `count` labels from `min` to `max` (spaced as the axis spaces them)
// all differ in `format`.
bool LabelsDistinct(qint64 min, qint64 max, int count, const QString& format);

// Limits that contain lo..hi, rounded out to a whole step of one or more minutes, hours
// or days chosen as the smallest that needs at most `maxCount` labels and gives labels
// that differ in `format`; the labels then fall on whole minutes (days for a date
// format).  A span of no width still gets one step.  Where no whole step gives labels
// that differ (a time-only format over several days), lo..hi is kept as KeptTimeTicks
// keeps it.
TimeTicks AlignedTimeTicks(qint64 lo, qint64 hi, int maxCount, const QString& format);

// Limits lo..hi kept as they are (limits a person set) with the most labels, up to
// `maxCount`, that differ in `format`.  When even the two end labels would read the
// same (a window narrower than the format shows), no labels are drawn.  A window of no
// width cannot be drawn: it is widened as AlignedTimeTicks widens it.
TimeTicks KeptTimeTicks(qint64 lo, qint64 hi, int maxCount, const QString& format);

// lo..hi with a small margin on both sides (a fiftieth of the span, at least a second),
// so that the first and last points are not drawn on the plot's edge.
void AddTimeMargin(qint64& lo, qint64& hi);

// How many labels of `labelWidth` pixels fit side by side with room between them on a
// plot `plotWidth` pixels wide (2 to 7).
int LabelCountFor(int plotWidth, int labelWidth);

// Conversions between the local QDateTime the axis holds and wall-clock ms.
qint64 ToWallMs(const QDateTime& local);
QDateTime FromWallMs(qint64 wallMs);

}  // namespace veresk
