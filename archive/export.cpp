#include "archive/export.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cmath>
#include <limits>

#include "link/codecs.h"
#include "shell/csv.h"
#include "shell/datafolder.h"
#include "shell/savefile.h"

namespace veresk {

// ---------------------------------------------------------------- image files

QString ArchiveImageFileName(std::time_t pcTime) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(pcTime)).toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) +
           QStringLiteral(".bin");
}

bool SaveArchiveImage(const ArchiveImageT& image, const QString& path) {
    return SaveWhole(path, QByteArray::fromRawData(reinterpret_cast<const char*>(image.data()), kArchiveSize)).isEmpty();
}

QString KeepArchiveImage(const ArchiveImageT& image, std::time_t pcTime) {
    const QString folder = ArchivesFolder();
    if (!QDir().mkpath(folder)) return QString();
    // A name already taken (two downloads within a second, or the hour a clock set back
    // for the winter repeats) gets a number: a kept archive is never replaced.
    const QString base = folder + '/' + QFileInfo(ArchiveImageFileName(pcTime)).completeBaseName();
    QString path = base + QStringLiteral(".bin");
    for (int n = 2; QFileInfo::exists(path); ++n) path = base + QStringLiteral("_%1.bin").arg(n);
    return SaveArchiveImage(image, path) ? path : QString();
}

ImageFileStatus LoadArchiveImage(const QString& path, ArchiveImageT& image) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return ImageFileStatus::Unreadable;
    // One byte more than an image: a longer file is told apart without reading it all.
    const QByteArray bytes = file.read(kArchiveSize + 1);
    if (file.error() != QFileDevice::NoError) return ImageFileStatus::Unreadable;
    if (bytes.size() != kArchiveSize) return ImageFileStatus::WrongSize;
    std::copy(bytes.begin(), bytes.end(), image.begin());
    return ImageFileStatus::Loaded;
}

// ---------------------------------------------------------------- CSV

QByteArray RecordIsoTime(const uint8_t* r) {
    if (!BcdDateTimeValid(r[4], r[5], r[6], r[7], r[8], r[9])) return QByteArray();
    return IsoDateTime(2000 + DecodeBcd(r[9]), DecodeBcd(r[8]), DecodeBcd(r[7]), DecodeBcd(r[6]), DecodeBcd(r[5]),
                       DecodeBcd(r[4]));
}

std::vector<ExportRow> ArchiveMeasurements(const ArchiveImageT& image) {
    // The session view's own walk numbers the sessions (its counter starts at 0 as in
    // the download and the session buttons).
    int counter = 0;
    const std::vector<int> sessions = MeasurementSessions(image, counter);
    std::vector<ExportRow> rows;
    for (int k = 0; k < kArchiveRecordCount; ++k) {
        const int s = sessions[static_cast<size_t>(k)];
        if (s == kNoSession) continue;
        const uint8_t* rec = ArchiveRecord(image, k);
        rows.push_back({s, k + 1, RecordIsoTime(rec), RecordValue(rec)});
    }
    return rows;
}

QByteArray ArchiveCsvHeader() { return CsvRecord({"session", "record", "time", "dose_rate_usv_h"}); }

QByteArray ArchiveCsvRow(const ExportRow& row) {
    // Every device number within the single-precision range is one exactly; the few
    // damaged ones beyond it are written as the doubles they decode to.
    const bool single = std::fabs(row.doseRate) <= static_cast<double>(std::numeric_limits<float>::max());
    const QByteArray value =
        single ? ShortestFloatText(static_cast<float>(row.doseRate)) : ShortestDoubleText(row.doseRate);
    return CsvRecord({QByteArray::number(row.session), QByteArray::number(row.record), row.time, value});
}

QByteArray ArchiveCsv(const std::vector<ExportRow>& rows) {
    QByteArray csv = ArchiveCsvHeader();
    for (const ExportRow& row : rows) csv += ArchiveCsvRow(row);
    return csv;
}

QByteArray ArchiveCsv(const ArchiveImageT& image) { return ArchiveCsv(ArchiveMeasurements(image)); }

bool SaveArchiveCsv(const std::vector<ExportRow>& rows, const QString& path) {
    return SaveWhole(path, ArchiveCsv(rows)).isEmpty();
}

bool SaveArchiveCsv(const ArchiveImageT& image, const QString& path) {
    return SaveArchiveCsv(ArchiveMeasurements(image), path);
}

}  // namespace veresk
