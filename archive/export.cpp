#include "archive/export.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <cmath>
#include <limits>

#include "link/codecs.h"
#include "shell/csv.h"
#include "shell/datafolder.h"

namespace veresk {

// ---------------------------------------------------------------- image files

QString ArchiveImageFileName(std::time_t pcTime) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(pcTime)).toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) +
           QStringLiteral(".bin");
}

namespace {

bool SaveAtomically(const QString& path, const char* data, qint64 size) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(data, size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace

bool SaveArchiveImage(const ArchiveImageT& image, const QString& path) {
    return SaveAtomically(path, reinterpret_cast<const char*>(image.data()), kArchiveSize);
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
    int total = 0;
    for (int k = 0; k < kArchiveRecordCount; ++k) total += RecordValue(ArchiveRecord(image, k)) > 0;

    // The session view's own walk assigns the sessions: session after session, until
    // every measurement has been placed.  A session never holds fewer than the start
    // (a lowered counter is always raised again by the empty record that follows).
    std::vector<int> sessionOf(kArchiveRecordCount, std::numeric_limits<int>::min());
    const int start = 0;  // the download and the session buttons start the walk here
    const QLocale locale = QLocale::c();
    int placed = 0;
    for (int s = start; placed < total && s <= start + kArchiveRecordCount; ++s) {
        int counter = start;
        const SessionView view = ShowSession(image, s, counter, locale);
        for (const SessionRow& row : view.rows) {
            sessionOf[static_cast<size_t>(row.record - 1)] = s;
            ++placed;
        }
    }

    std::vector<ExportRow> rows;
    rows.reserve(static_cast<size_t>(placed));
    for (int k = 0; k < kArchiveRecordCount; ++k) {
        if (sessionOf[static_cast<size_t>(k)] == std::numeric_limits<int>::min()) continue;
        const uint8_t* rec = ArchiveRecord(image, k);
        rows.push_back({sessionOf[static_cast<size_t>(k)], k + 1, RecordIsoTime(rec), RecordValue(rec)});
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

QByteArray ArchiveCsv(const ArchiveImageT& image) {
    QByteArray csv = ArchiveCsvHeader();
    for (const ExportRow& row : ArchiveMeasurements(image)) csv += ArchiveCsvRow(row);
    return csv;
}

bool SaveArchiveCsv(const ArchiveImageT& image, const QString& path) {
    const QByteArray csv = ArchiveCsv(image);
    return SaveAtomically(path, csv.constData(), csv.size());
}

}  // namespace veresk
