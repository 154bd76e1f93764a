#pragma once
// Pure text builders of veresk-cli: decoded values in, text out.  Nothing here opens a
// port, a file or a socket, so each is tested as a table of known answers.
//
// Numbers are the shortest text that reads back as the device's single-precision value
// and PC times are local ISO 8601 with their UTC offset, as in the CSV files.
// One reading (a good status block with the PC time it was read at) becomes:
//   - a JSON object (status --json, and each MQTT message of the log):
//       {"time":"2026-12-10T15:03:27+07:00","port":"COM5","dose_rate_usv_h":0.12,
//        "dose_usv":1.5,"temperature_c":21.5,"battery_mv":3900,"charging":false,
//        "rate_alarm":false,"dose_alarm":false,"archive_full":false,...,
//        "device_clock":"2026-12-10T15:03:29","clock_offset_s":2}
//     (device_clock and clock_offset_s null while the device clock is not valid);
//   - a plain table for people (status);
//   - Prometheus text exposition lines for node_exporter's textfile collector.
// The parameter block becomes JSON or a table keyed by the program's field names.
// Home Assistant's MQTT discovery wants one retained config per sensor.
#include <QByteArray>
#include <QString>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

#include "monitor/status.h"
#include "settings/parameters.h"

namespace veresk::cli {

// ---------------------------------------------------------------- small pieces

// A JSON string literal with its quotes.
QByteArray JsonString(const QString& s);
// The device clock as it stands (it keeps no zone): "2026-12-10T15:03:29"; empty when
// its bytes hold no valid date and time.
QString DeviceClockText(const DeviceClockFields& c);

// JSON object built in the order its members are added.
class JsonObject {
public:
    JsonObject& Add(const char* key, const QString& value);
    JsonObject& Add(const char* key, const char* value) { return Add(key, QString::fromUtf8(value)); }
    JsonObject& Add(const char* key, float value);
    JsonObject& Add(const char* key, long long value);
    JsonObject& Add(const char* key, int value) { return Add(key, static_cast<long long>(value)); }
    JsonObject& Add(const char* key, unsigned value) { return Add(key, static_cast<long long>(value)); }
    JsonObject& Add(const char* key, bool value);
    JsonObject& AddNull(const char* key);
    JsonObject& AddRaw(const char* key, const QByteArray& json);  // an already built value
    QByteArray Text() const { return "{" + body_ + "}"; }

private:
    void Key(const char* key);
    QByteArray body_;
};

// ---------------------------------------------------------------- one reading

struct Reading {
    LiveStatusValues values;
    std::time_t pcTime = 0;      // when the block was read
    QString port;                // "COM5", or the device path's file name
};

// Device clock minus PC clock in seconds; none when the device clock is not valid
// (DeviceClockFields::valid), so a damaged clock never reads as some offset.
std::optional<long long> ClockOffset(const Reading& r);

QByteArray ReadingJson(const Reading& r);
// Label and value rows for people, in CliLanguage().
std::vector<std::pair<QString, QString>> ReadingRows(const Reading& r);
// Rows as two aligned columns, one line each.
QString TableText(const std::vector<std::pair<QString, QString>>& rows);

// ---------------------------------------------------------------- parameter block

QByteArray ParametersJson(const ParameterValuesT& p);
std::vector<std::pair<QString, QString>> ParameterRows(const ParameterValuesT& p);

// ---------------------------------------------------------------- Prometheus

// The textfile collector's page: HELP and TYPE lines, every sample labelled with
// port="<portLabel>".  With a reading, its values and veresk_link_up 1; without (the
// link is down) only veresk_link_up 0 and, when there ever was one, the time of the
// last reading.
QByteArray PrometheusText(const QString& portLabel, const Reading* reading, std::optional<std::time_t> lastReading);
// A label value with \, " and newlines escaped.
QByteArray PrometheusLabelValue(const QString& s);

// ---------------------------------------------------------------- MQTT

struct MqttTopics {
    QString reading;  // <prefix>/reading: the JSON of each reading, retained
    QString state;    // <prefix>/state: "online" / "offline", retained, the last will
};
MqttTopics TopicsOf(const QString& prefix);
inline const QByteArray kOnline = "online";
inline const QByteArray kOffline = "offline";

struct MqttMessage {
    QString topic;
    QByteArray payload;
};
// Home Assistant discovery configs (retained) for dose rate, dose, temperature and
// battery, under homeassistant/sensor/<node>/<sensor>/config.
std::vector<MqttMessage> DiscoveryConfigs(const QString& prefix);
// The node id Home Assistant gets for a prefix: letters, digits, '_' and '-' kept,
// everything else '_' ("veresk/COM5" -> "veresk_COM5").
QString NodeId(const QString& prefix);

}  // namespace veresk::cli
