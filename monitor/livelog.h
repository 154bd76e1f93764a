#pragma once
// The live log: one CSV record for every displayed polling tick, in a file per day of
// the PC's local calendar ("2026-12-10.csv") inside a folder of its own (the data
// folder's log/ for the program).  A new day's file starts with the header record; a
// file that already holds something (the program started again that day) is continued
// without a second header.  Every record reaches the file before the call returns, so
// a crash loses at most the record being written.
//
// CSV (RFC 4180, UTF-8, CR LF):
//   time,dose_rate_usv_h,dose_usv,temperature,battery_mv,charging,rate_alarm,dose_alarm,archive_records
//   2026-12-10T14:03:27+07:00,0.15,12.5,23.5,3950,0,0,0,120
// time: the PC's local time of the tick, ISO 8601 with its offset from UTC; numbers:
// the status block's single-precision values in their shortest exact text with '.';
// charging, rate_alarm, dose_alarm: 0 or 1 from the status flags; archive_records: the
// archive fill as a record count.
#include <QByteArray>
#include <QString>
#include <ctime>

#include "monitor/status.h"

namespace veresk {

// "2026-12-10T14:03:27+07:00" for the PC's local time (also "+00:00", never "Z").
QByteArray LocalIsoTime(std::time_t pcTime);
// "2026-12-10.csv" for the PC's local date.
QString LiveLogFileName(std::time_t pcTime);

QByteArray LiveLogHeader();
QByteArray LiveLogRow(const LiveStatusValues& status, std::time_t pcTime);

// Appends the records to the day's file in `folder` (created when missing).  Each
// Append opens the day's file, writes and closes it, so a change of day, a file moved
// away or a folder that comes back all take effect at the next record.
class LiveLogWriter {
public:
    explicit LiveLogWriter(QString folder) : folder_(std::move(folder)) {}
    const QString& Folder() const { return folder_; }

    // One record for `status` at the PC clock's time (PcNow); false when it could not
    // be written whole.
    bool Append(const LiveStatusValues& status);
    bool Append(const LiveStatusValues& status, std::time_t pcTime);

private:
    QString folder_;
};

}  // namespace veresk
