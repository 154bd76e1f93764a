#include "monitor/livelog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <cstdlib>

#include "monitor/clock.h"
#include "shell/csv.h"

namespace veresk {

namespace {

QDateTime LocalTime(std::time_t pcTime) { return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(pcTime)); }

QByteArray Flag(bool on) { return on ? QByteArrayLiteral("1") : QByteArrayLiteral("0"); }

}  // namespace

QByteArray LocalIsoTime(std::time_t pcTime) {
    const QDateTime t = LocalTime(pcTime);
    const int offset = t.offsetFromUtc();  // seconds east of UTC
    const int minutes = std::abs(offset) / 60;
    const QString zone = QStringLiteral("%1%2:%3")
                             .arg(offset < 0 ? '-' : '+')
                             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                             .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    return (t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + zone).toLatin1();
}

QString LiveLogFileName(std::time_t pcTime) {
    return LocalTime(pcTime).toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".csv");
}

QByteArray LiveLogHeader() {
    return CsvRecord({"time", "dose_rate_usv_h", "dose_usv", "temperature", "battery_mv", "charging", "rate_alarm",
                      "dose_alarm", "archive_records"});
}

QByteArray LiveLogRow(const LiveStatusValues& s, std::time_t pcTime) {
    return CsvRecord({LocalIsoTime(pcTime), ShortestFloatText(s.DoseRate), ShortestFloatText(s.Dose),
                      ShortestFloatText(s.Temperature), ShortestFloatText(s.BatteryVoltage),
                      Flag((s.StatusFlags & ChargingBit) != 0), Flag((s.RateFlags & RateAboveThresholdBit) != 0),
                      Flag((s.StatusFlags & DoseAboveThresholdBit) != 0), QByteArray::number(s.ArchiveFill)});
}

bool LiveLogWriter::Append(const LiveStatusValues& status) { return Append(status, PcNow()); }

bool LiveLogWriter::Append(const LiveStatusValues& status, std::time_t pcTime) {
    if (!QDir().mkpath(folder_)) return false;
    QFile file(folder_ + '/' + LiveLogFileName(pcTime));
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) return false;
    QByteArray bytes;
    if (file.isSequential() || file.size() == 0) {
        bytes = LiveLogHeader();
    } else if (file.seek(file.size() - 1) && file.read(1) != "\n") {
        bytes = "\r\n";  // a record cut short by a crash is ended before the next one
    }
    bytes += LiveLogRow(status, pcTime);
    // One write of the whole record; closing hands it to the system at once.
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

}  // namespace veresk
