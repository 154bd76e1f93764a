#pragma once
// What leaves the program from the archive: the memory image kept as a file of its own,
// and every measurement of an image as CSV.
//
// Image file: the 32768 bytes exactly as read from the device, nothing before or after
// them, named after the PC's local time of the download ("2026-12-10_14-03-27.bin") and
// kept in the data folder's archives/.  Written through a temporary file and a rename,
// so it is either whole or absent.
//
// CSV (RFC 4180, UTF-8, CR LF), one header record and one record per measurement of the
// whole image, in archive order:
//   session,record,time,dose_rate_usv_h
//   1,2,2009-03-21T07:05:09,0.15
// session: the session number the session view gives the measurement; record: the
// record number shown in the grid (k + 1); time: the record's date and time as the
// device stores them (its wall clock, no zone), empty when they are no valid calendar
// date and time; dose_rate_usv_h: the shortest decimal text with '.' that reads back as
// the device's single-precision value.
#include <QByteArray>
#include <QString>
#include <ctime>
#include <vector>

#include "archive/archive.h"

namespace veresk {

// ------------------------------------------------------------------ image files

// "yyyy-MM-dd_HH-mm-ss.bin" from the PC's local time.
QString ArchiveImageFileName(std::time_t pcTime);
// Writes the image to `path` atomically; false when it could not be written (an older
// file of that name is then left as it was).
bool SaveArchiveImage(const ArchiveImageT& image, const QString& path);
// Keeps the image in ArchivesFolder() under ArchiveImageFileName(pcTime), creating the
// folder when needed; when that name is taken, "…_2.bin", "…_3.bin" and so on.  Returns
// the file's path, or an empty string on failure.
QString KeepArchiveImage(const ArchiveImageT& image, std::time_t pcTime);

enum class ImageFileStatus {
    Loaded,      // `image` holds the file's bytes
    Unreadable,  // the file could not be opened or read
    WrongSize,   // not exactly 32768 bytes
};
// Reads an image file.  `image` changes only when the result is Loaded.
ImageFileStatus LoadArchiveImage(const QString& path, ArchiveImageT& image);

// ------------------------------------------------------------------ CSV

// "2009-03-21T07:05:09" (year 20yy), or empty when a field is not packed BCD, the month
// not 1..12, the day not in that month, or the time not a time of day.
QByteArray RecordIsoTime(const uint8_t* record);

struct ExportRow {
    int session = 0;
    int record = 0;    // k + 1
    QByteArray time;   // RecordIsoTime
    double doseRate = 0;
};

// Every measurement of the image with its session, in archive order.
std::vector<ExportRow> ArchiveMeasurements(const ArchiveImageT& image);

// One CSV record (with its CR LF); the header.
QByteArray ArchiveCsvHeader();
QByteArray ArchiveCsvRow(const ExportRow& row);
// The whole file: header and every measurement.
QByteArray ArchiveCsv(const ArchiveImageT& image);
QByteArray ArchiveCsv(const std::vector<ExportRow>& rows);  // rows of ArchiveMeasurements
// Writes ArchiveCsv atomically to `path`; false when it could not be written.
bool SaveArchiveCsv(const ArchiveImageT& image, const QString& path);
bool SaveArchiveCsv(const std::vector<ExportRow>& rows, const QString& path);

}  // namespace veresk
