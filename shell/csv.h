#pragma once
// Comma-separated values, as RFC 4180 lays them out: fields joined by ',', every record
// (the header too) ended by CR LF, text in UTF-8.  A field holding a comma, a double
// quote, a CR or an LF is put in double quotes with its own quotes doubled; any other
// field is written as it stands.  Numbers are written with '.' whatever the locale.
#include <QByteArray>
#include <QList>

namespace veresk {

// One record with its CR LF.
QByteArray CsvRecord(const QList<QByteArray>& fields);

// The shortest decimal text that reads back as exactly this single-precision number
// ("0.15", "3950", "1e-05"), with '.'; "inf" and "nan" for the non-finite values.
QByteArray ShortestFloatText(float value);
// The same for a double (for device numbers beyond the single-precision range).
QByteArray ShortestDoubleText(double value);
// A date and time without a zone, ISO 8601: "2009-03-21T07:05:09".
QByteArray IsoDateTime(int year, int month, int day, int hour, int minute, int second);

}  // namespace veresk
