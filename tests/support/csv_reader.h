#pragma once
// A small RFC 4180 reader for the tests: records end with CR LF, fields are split at
// commas, a field in double quotes may hold commas, CR, LF and doubled quotes.  A bare
// LF or CR outside quotes, a quote inside an unquoted field or an unfinished quoted
// field makes the input invalid.
#include <QByteArray>
#include <QList>
#include <optional>

namespace veresk::testing {

using CsvTable = QList<QList<QByteArray>>;

inline std::optional<CsvTable> ReadCsv(const QByteArray& text) {
    CsvTable table;
    QList<QByteArray> record;
    QByteArray field;
    bool quoted = false;     // inside a quoted field
    bool wasQuoted = false;  // the current field began with a quote
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < n && text[i + 1] == '"') {
                    field += '"';
                    i += 2;
                    continue;
                }
                quoted = false;
                ++i;
                if (i < n && text[i] != ',' && text[i] != '\r') return std::nullopt;
                continue;
            }
            field += c;
            ++i;
            continue;
        }
        if (c == ',') {
            record.append(field);
            field.clear();
            wasQuoted = false;
            ++i;
        } else if (c == '\r') {
            if (i + 1 >= n || text[i + 1] != '\n') return std::nullopt;
            record.append(field);
            table.append(record);
            record.clear();
            field.clear();
            wasQuoted = false;
            i += 2;
        } else if (c == '\n') {
            return std::nullopt;
        } else if (c == '"') {
            if (!field.isEmpty() || wasQuoted) return std::nullopt;
            quoted = wasQuoted = true;
            ++i;
        } else {
            field += c;
            ++i;
        }
    }
    if (quoted || !field.isEmpty() || !record.isEmpty()) return std::nullopt;  // last record without CR LF
    return table;
}

}  // namespace veresk::testing
