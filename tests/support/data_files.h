#pragma once
// Small helpers for the tests of the program's data files: whole files in and out, and
// PC times given by their local calendar reading (so that a test holds in every zone).
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <ctime>

namespace veresk::testing {

// The PC time whose local calendar reading is the given one (in the zone under test).
inline std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

inline void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

}  // namespace veresk::testing
