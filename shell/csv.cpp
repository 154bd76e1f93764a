#include "shell/csv.h"

#include <charconv>

namespace veresk {

namespace {

QByteArray Digits(int n, int width) { return QByteArray::number(n).rightJustified(width, '0'); }

QByteArray CsvField(const QByteArray& field) {
    if (!field.contains(',') && !field.contains('"') && !field.contains('\r') && !field.contains('\n')) return field;
    QByteArray quoted = field;
    quoted.replace("\"", "\"\"");
    return '"' + quoted + '"';
}

template <class T>
QByteArray Shortest(T value) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return QByteArray(buf, static_cast<qsizetype>(res.ptr - buf));
}

}  // namespace

QByteArray CsvRecord(const QList<QByteArray>& fields) {
    QByteArray line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0) line += ',';
        line += CsvField(fields[i]);
    }
    return line + "\r\n";
}

QByteArray ShortestFloatText(float value) { return Shortest(value); }
QByteArray ShortestDoubleText(double value) { return Shortest(value); }

QByteArray IsoDateTime(int year, int month, int day, int hour, int minute, int second) {
    return Digits(year, 4) + '-' + Digits(month, 2) + '-' + Digits(day, 2) + 'T' + Digits(hour, 2) + ':' +
           Digits(minute, 2) + ':' + Digits(second, 2);
}

}  // namespace veresk
