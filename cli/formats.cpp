#include "cli/formats.h"

#include <array>
#include <cmath>

#include "cli/texts.h"
#include "monitor/polling.h"
#include "monitor/livelog.h"
#include "monitor/presentation.h"
#include "shell/csv.h"

namespace veresk::cli {

// ---------------------------------------------------------------- small pieces

QByteArray JsonString(const QString& s) {
    QByteArray out = "\"";
    for (const char c : s.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20) out += QByteArray("\\u00") + QByteArray::number(u, 16).rightJustified(2, '0');
                else out += c;
        }
    }
    return out + '"';
}

QString DeviceClockText(const DeviceClockFields& c) {
    if (!c.valid) return {};
    return QString::fromLatin1(IsoDateTime(2000 + c.year, c.month, c.day, c.hour, c.minute, c.second));
}

void JsonObject::Key(const char* key) {
    if (!body_.isEmpty()) body_ += ',';
    body_ += JsonString(QString::fromUtf8(key)) + ':';
}

JsonObject& JsonObject::Add(const char* key, const QString& value) { return AddRaw(key, JsonString(value)); }

JsonObject& JsonObject::Add(const char* key, float value) {
    return std::isfinite(value) ? AddRaw(key, ShortestFloatText(value)) : AddNull(key);
}

JsonObject& JsonObject::Add(const char* key, long long value) { return AddRaw(key, QByteArray::number(value)); }

JsonObject& JsonObject::Add(const char* key, bool value) { return AddRaw(key, value ? "true" : "false"); }

JsonObject& JsonObject::AddNull(const char* key) { return AddRaw(key, "null"); }

JsonObject& JsonObject::AddRaw(const char* key, const QByteArray& json) {
    Key(key);
    body_ += json;
    return *this;
}

// ---------------------------------------------------------------- one reading

namespace {

bool Charging(const LiveStatusValues& v) { return (v.StatusFlags & ChargingBit) != 0; }
bool RateAlarm(const LiveStatusValues& v) { return (v.RateFlags & RateAboveThresholdBit) != 0; }
bool DoseAlarm(const LiveStatusValues& v) { return (v.StatusFlags & DoseAboveThresholdBit) != 0; }
bool ArchiveFull(const LiveStatusValues& v) { return (v.StatusFlags & ArchiveFullBit) != 0; }

QString Str(float v) { return QString::fromLatin1(ShortestFloatText(v)); }
QString YesNo(bool b) { return T(b ? txt::Yes : txt::No); }
// For people: the program's own rounding and automatic units ("0.180 uSv/h"), with '.'.
QString Shown(float v, Quantity q, int lang) {
    const ScaledValue s = ScaleForDisplay(v);
    return Fixed(s.scaled, s.decimals, QLocale::c()) + ' ' + UnitLabel(q, s.unit, lang);
}
QString Shown(float v, int decimals, const QString& unit) { return Fixed(v, decimals, QLocale::c()) + ' ' + unit; }

}  // namespace

std::optional<long long> ClockOffset(const Reading& r) { return DeviceClockOffset(r.values.DeviceClock, r.pcTime); }

QByteArray ReadingJson(const Reading& r) {
    const LiveStatusValues& v = r.values;
    JsonObject o;
    o.Add("time", QString::fromLatin1(LocalIsoTime(r.pcTime)))
        .Add("port", r.port)
        .Add("dose_rate_usv_h", v.DoseRate)
        .Add("dose_usv", v.Dose)
        .Add("temperature_c", v.Temperature)
        .Add("battery_mv", v.BatteryVoltage)
        .Add("charging", Charging(v))
        .Add("rate_alarm", RateAlarm(v))
        .Add("dose_alarm", DoseAlarm(v))
        .Add("archive_full", ArchiveFull(v))
        .Add("stat_error_percent", v.StatError)
        .Add("pulse_count", static_cast<long long>(v.PulseCount))
        .Add("measurement_count", static_cast<long long>(v.MeasurementCount))
        .Add("measurement_time_s", static_cast<long long>(v.MeasurementTime))
        .Add("running_time_s", static_cast<long long>(v.RunningTime))
        .Add("rate_threshold_index", static_cast<long long>(v.RateThresholdIndex))
        .Add("dose_threshold_index", static_cast<long long>(v.DoseThresholdIndex))
        .Add("archive_records", v.ArchiveFill);
    if (v.DeviceClock.valid) o.Add("device_clock", DeviceClockText(v.DeviceClock));
    else o.AddNull("device_clock");
    if (const auto off = ClockOffset(r)) o.Add("clock_offset_s", *off);
    else o.AddNull("clock_offset_s");
    return o.Text();
}

std::vector<std::pair<QString, QString>> ReadingRows(const Reading& r) {
    const LiveStatusValues& v = r.values;
    const int lang = CliLanguage();
    const QString sec = ' ' + T(txt::Seconds);
    const auto off = ClockOffset(r);
    return {
        {T(txt::Port), r.port},
        {T(txt::DoseRate), Shown(v.DoseRate, Quantity::DoseRate, lang)},
        {T(txt::Dose), Shown(v.Dose, Quantity::Dose, lang)},
        {T(txt::Temperature), Shown(v.Temperature, 1, QStringLiteral("°C"))},
        {T(txt::Battery), Shown(v.BatteryVoltage, 0, IsEnglish(lang) ? QStringLiteral("mV") : QStringLiteral("мВ"))},
        {T(txt::Charging), YesNo(Charging(v))},
        {T(txt::RateAlarm), YesNo(RateAlarm(v))},
        {T(txt::DoseAlarm), YesNo(DoseAlarm(v))},
        {T(txt::ArchiveFull), YesNo(ArchiveFull(v))},
        {T(txt::StatError), Shown(v.StatError, 0, QStringLiteral("%"))},
        {T(txt::Pulses), QString::number(v.PulseCount)},
        {T(txt::Measurements), QString::number(v.MeasurementCount)},
        {T(txt::MeasurementTime), QString::number(v.MeasurementTime) + sec},
        {T(txt::RunningTime), QString::number(v.RunningTime) + sec},
        {T(txt::RateThreshold), QString::number(v.RateThresholdIndex)},
        {T(txt::DoseThreshold), QString::number(v.DoseThresholdIndex)},
        {T(txt::ArchiveRecords), QString::number(v.ArchiveFill)},
        {T(txt::DeviceClock), v.DeviceClock.valid ? DeviceClockText(v.DeviceClock) : T(txt::Invalid)},
        {T(txt::PcClock), QString::fromLatin1(LocalIsoTime(r.pcTime))},
        {T(txt::ClockOffset), off ? QStringLiteral("%1%2").arg(*off > 0 ? "+" : "").arg(*off) + sec : T(txt::Invalid)},
    };
}

QString TableText(const std::vector<std::pair<QString, QString>>& rows) {
    qsizetype width = 0;
    for (const auto& row : rows) width = std::max(width, row.first.size());
    QString out;
    for (const auto& [label, value] : rows) out += label.leftJustified(width + 2) + value + '\n';
    return out;
}

// ---------------------------------------------------------------- parameter block

namespace {

QByteArray FloatArray(const float (&v)[3]) {
    return "[" + ShortestFloatText(v[0]) + "," + ShortestFloatText(v[1]) + "," + ShortestFloatText(v[2]) + "]";
}

QString EditionName(int edition) {
    return edition == 1 ? QString::fromUtf8("Кедр+") : QString::fromUtf8("Скворец");
}

}  // namespace

QByteArray ParametersJson(const ParameterValuesT& p) {
    const int edition = DeviceEditionOf(p.EditionFlags);
    JsonObject o;
    o.Add("FirmwareVersion", unsigned{p.FirmwareVersion})
        .Add("DeviceEdition", edition)
        .Add("Edition", EditionName(edition))
        .Add("AccumulatedDoseTime", static_cast<long long>(p.AccumulatedDoseTime))
        .Add("BacklightTime", unsigned{p.BacklightTime})
        .Add("DisplayMode", unsigned{p.DisplayMode})
        .Add("SoundOn", unsigned{p.SoundOn})
        .Add("DeviceLanguage", unsigned{p.DeviceLanguage})
        .Add("DisplayView", unsigned{p.DisplayView})
        .Add("Backlight", unsigned{p.Backlight})
        .Add("RateThresholdSetting", unsigned{p.RateThresholdSetting})
        .AddRaw("RateThresholds", FloatArray(p.RateThresholds))
        .Add("DoseThresholdSetting", unsigned{p.DoseThresholdSetting})
        .AddRaw("DoseThresholds", FloatArray(p.DoseThresholds))
        .Add("StoredDose", p.StoredDose)
        .Add("EditionFlags", unsigned{p.EditionFlags});
    return o.Text();
}

std::vector<std::pair<QString, QString>> ParameterRows(const ParameterValuesT& p) {
    const int edition = DeviceEditionOf(p.EditionFlags);
    std::vector<std::pair<QString, QString>> rows{
        {QStringLiteral("FirmwareVersion"), QString::number(p.FirmwareVersion)},
        {QStringLiteral("DeviceEdition"), QStringLiteral("%1 (%2)").arg(edition).arg(EditionName(edition))},
        {QStringLiteral("AccumulatedDoseTime"), QString::number(p.AccumulatedDoseTime)},
        {QStringLiteral("BacklightTime"), QString::number(p.BacklightTime)},
        {QStringLiteral("DisplayMode"), QString::number(p.DisplayMode)},
        {QStringLiteral("SoundOn"), QString::number(p.SoundOn)},
        {QStringLiteral("DeviceLanguage"), QString::number(p.DeviceLanguage)},
        {QStringLiteral("DisplayView"), QString::number(p.DisplayView)},
        {QStringLiteral("Backlight"), QString::number(p.Backlight)},
        {QStringLiteral("RateThresholdSetting"), QString::number(p.RateThresholdSetting)},
    };
    for (int i = 0; i < 3; ++i) rows.emplace_back(QStringLiteral("RateThresholds[%1]").arg(i), Str(p.RateThresholds[i]));
    rows.emplace_back(QStringLiteral("DoseThresholdSetting"), QString::number(p.DoseThresholdSetting));
    for (int i = 0; i < 3; ++i) rows.emplace_back(QStringLiteral("DoseThresholds[%1]").arg(i), Str(p.DoseThresholds[i]));
    rows.emplace_back(QStringLiteral("StoredDose"), Str(p.StoredDose));
    rows.emplace_back(QStringLiteral("EditionFlags"), QStringLiteral("0x%1").arg(p.EditionFlags, 2, 16, QLatin1Char('0')));
    return rows;
}

// ---------------------------------------------------------------- Prometheus

QByteArray PrometheusLabelValue(const QString& s) {
    QByteArray out;
    for (const char c : s.toUtf8()) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

namespace {

QByteArray PromNumber(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
    return ShortestFloatText(static_cast<float>(v));
}

struct Family {
    const char* name;
    const char* help;
};

void AddFamily(QByteArray& page, const Family& f, const QByteArray& labels, const QByteArray& value) {
    page += QByteArray("# HELP ") + f.name + ' ' + f.help + '\n';
    page += QByteArray("# TYPE ") + f.name + " gauge\n";
    page += QByteArray(f.name) + labels + ' ' + value + '\n';
}

}  // namespace

QByteArray PrometheusText(const QString& portLabel, const Reading* reading, std::optional<std::time_t> lastReading) {
    const QByteArray labels = "{port=\"" + PrometheusLabelValue(portLabel) + "\"}";
    const auto flag = [](bool b) { return QByteArray(b ? "1" : "0"); };
    QByteArray page;
    if (reading != nullptr) {
        const LiveStatusValues& v = reading->values;
        AddFamily(page, {"veresk_dose_rate_microsieverts_per_hour", "Ambient dose equivalent rate read from the dosimeter."},
                  labels, PromNumber(v.DoseRate));
        AddFamily(page, {"veresk_dose_microsieverts", "Accumulated dose read from the dosimeter."}, labels, PromNumber(v.Dose));
        AddFamily(page, {"veresk_temperature_celsius", "Temperature of the dosimeter."}, labels, PromNumber(v.Temperature));
        AddFamily(page, {"veresk_battery_millivolts", "Battery voltage of the dosimeter."}, labels,
                  PromNumber(v.BatteryVoltage));
        AddFamily(page, {"veresk_charging", "1 while the dosimeter's battery is charging."}, labels, flag(Charging(v)));
        AddFamily(page, {"veresk_rate_alarm", "1 while the dose rate is above its threshold in force."}, labels,
                  flag(RateAlarm(v)));
        AddFamily(page, {"veresk_dose_alarm", "1 while the dose is above its threshold in force."}, labels,
                  flag(DoseAlarm(v)));
    }
    AddFamily(page, {"veresk_link_up", "1 while the dosimeter answers, 0 while the link is down."}, labels,
              flag(reading != nullptr));
    if (lastReading) {
        AddFamily(page, {"veresk_last_reading_timestamp_seconds", "Time of the last good reading, seconds since the epoch."},
                  labels, QByteArray::number(static_cast<long long>(*lastReading)));
    }
    return page;
}

// ---------------------------------------------------------------- MQTT

MqttTopics TopicsOf(const QString& prefix) { return {prefix + QStringLiteral("/reading"), prefix + QStringLiteral("/state")}; }

QString NodeId(const QString& prefix) {
    QString id;
    for (const QChar c : prefix) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        id += keep ? c : QChar('_');
    }
    return id;
}

std::vector<MqttMessage> DiscoveryConfigs(const QString& prefix) {
    struct Sensor {
        const char* object;
        TextPair name;
        const char* field;
        const char* unit;
        const char* deviceClass;  // empty: none
        const char* stateClass;
    };
    static const std::array<Sensor, 4> sensors{{
        {"dose_rate", {"Мощность дозы", "Dose rate"}, "dose_rate_usv_h", "µSv/h", "", "measurement"},
        {"dose", {"Доза", "Dose"}, "dose_usv", "µSv", "", "total_increasing"},
        {"temperature", {"Температура", "Temperature"}, "temperature_c", "°C", "temperature", "measurement"},
        {"battery", {"Батарея", "Battery"}, "battery_mv", "mV", "voltage", "measurement"},
    }};
    const QString node = NodeId(prefix);
    const MqttTopics topics = TopicsOf(prefix);
    const QByteArray device = JsonObject()
                                  .AddRaw("identifiers", "[" + JsonString(node) + "]")
                                  .Add("name", QString::fromUtf8("РДТ-17 ") + prefix.section('/', -1))
                                  .Add("model", "РДТ-17")
                                  .Text();
    std::vector<MqttMessage> out;
    for (const Sensor& s : sensors) {
        JsonObject o;
        o.Add("name", T(s.name))
            .Add("unique_id", node + '_' + QLatin1String(s.object))
            .Add("object_id", node + '_' + QLatin1String(s.object))
            .Add("state_topic", topics.reading)
            .Add("value_template", QStringLiteral("{{ value_json.%1 }}").arg(QLatin1String(s.field)))
            .Add("unit_of_measurement", s.unit);
        if (*s.deviceClass) o.Add("device_class", s.deviceClass);
        o.Add("state_class", s.stateClass)
            .Add("availability_topic", topics.state)
            .Add("payload_available", QString::fromLatin1(kOnline))
            .Add("payload_not_available", QString::fromLatin1(kOffline))
            .AddRaw("device", device);
        out.push_back({QStringLiteral("homeassistant/sensor/%1/%2/config").arg(node, QLatin1String(s.object)), o.Text()});
    }
    return out;
}

}  // namespace veresk::cli
