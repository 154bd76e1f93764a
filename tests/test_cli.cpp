// veresk-cli's pure parts: the command line, and the texts it builds from decoded
// values (JSON, tables, Prometheus text, MQTT topics and Home Assistant configs).
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <array>
#include <cstdlib>

#include "cli/formats.h"
#include "cli/options.h"
#include "cli/texts.h"
#include "link/codecs.h"
#include "support/test_support.h"

using namespace veresk;
using namespace veresk::cli;

namespace {

QStringList Args(const char* line) { return QString::fromUtf8(line).split(' ', Qt::SkipEmptyParts); }

using TimeZone = veresk::testing::TimeZoneScope;
using veresk::testing::Hex;

}  // namespace

// ---------------------------------------------------------------- command line

TEST(CliOptions, GoodCommandLines) {
    struct Case {
        const char* line;
        Command command;
        PortChoice::Kind port;
        int number;
        const char* path;
    };
    const Case cases[] = {
        {"ports", Command::Ports, PortChoice::Kind::Search, 0, ""},
        {"status", Command::Status, PortChoice::Kind::Search, 0, ""},
        {"status --port 5 --json", Command::Status, PortChoice::Kind::Number, 5, ""},
        {"status --port=255", Command::Status, PortChoice::Kind::Number, 255, ""},
        {"params --device /dev/ttyUSB0", Command::Params, PortChoice::Kind::Path, 0, "/dev/ttyUSB0"},
        {"archive --out a.bin --csv a.csv --port 1", Command::Archive, PortChoice::Kind::Number, 1, ""},
        {"set-clock --device=/dev/serial/by-id/x", Command::SetClock, PortChoice::Kind::Path, 0, "/dev/serial/by-id/x"},
        {"log --textfile x.prom", Command::Log, PortChoice::Kind::Search, 0, ""},
        {"log --mqtt host:1884 --topic a/b --no-clock --port 7", Command::Log, PortChoice::Kind::Number, 7, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const ParseResult r = ParseCommandLine(Args(c.line));
        EXPECT_TRUE(r.error.isEmpty()) << r.error.toStdString();
        EXPECT_EQ(r.options.command, c.command);
        EXPECT_EQ(r.options.port.kind, c.port);
        EXPECT_EQ(r.options.port.number, c.number);
        EXPECT_EQ(r.options.port.path, QString::fromUtf8(c.path));
    }
    const Options log = ParseCommandLine(Args("log --mqtt host:1884 --topic a/b --no-clock --csv-dir d")).options;
    EXPECT_TRUE(log.mqtt);
    EXPECT_EQ(log.broker.host, "host");
    EXPECT_EQ(log.broker.port, 1884);
    EXPECT_EQ(log.topic, "a/b");
    EXPECT_FALSE(log.keepClock);
    EXPECT_EQ(log.csvDir, "d");
    EXPECT_TRUE(ParseCommandLine(Args("log --textfile x")).options.keepClock);
    const Options archive = ParseCommandLine(Args("archive --out a.bin --csv a.csv")).options;
    EXPECT_EQ(archive.out, "a.bin");
    EXPECT_EQ(archive.csv, "a.csv");
}

TEST(CliOptions, BadCommandLinesAreUsageErrors) {
    const char* bad[] = {
        "",                                      // no command
        "stat",                                  // unknown command
        "status --port 0",                       // out of range
        "status --port 256",
        "status --port x",
        "status --port",                         // missing value
        "status --port 3 --device /dev/x",       // both
        "status --device /dev/x --port 3",
        "status --port 3 --port 4",              // twice
        "status --json=yes",                     // a flag with a value
        "status extra",                          // a stray argument
        "ports --port 3",                        // ports searches, it takes no port
        "params --out x",                        // archive's option
        "archive",                               // --out is required
        "archive --out",
        "archive --out a.bin --csv ./a.bin",     // the CSV would replace the image
        "log",                                   // no output at all
        "log --topic a/b --textfile x",          // topic without mqtt
        "log --mqtt",
        "log --mqtt host:",
        "log --mqtt host:0",
        "log --mqtt host:65536",
        "log --mqtt ::1",                        // IPv6 needs brackets
        "log --mqtt h --topic a/+/b",            // wildcards
        "log --mqtt h --topic a/#",
        "set-clock --json",
        "status --device=",
    };
    for (const char* line : bad) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(ParseCommandLine(Args(line)).error.isEmpty());
    }
}

TEST(CliOptions, HelpOnEveryCommandAndBrokerForms) {
    for (const char* line : {"--help", "ports --help", "status --help", "params -h", "archive --help", "set-clock --help",
                             "log --help"}) {
        SCOPED_TRACE(line);
        const ParseResult r = ParseCommandLine(Args(line));
        EXPECT_TRUE(r.error.isEmpty());
        EXPECT_TRUE(r.options.help);
        EXPECT_TRUE(UsageText(r.options.command).contains("veresk-cli"));
    }
    EXPECT_TRUE(UsageText(Command::Log).contains("--no-clock"));
    EXPECT_TRUE(UsageText(Command::Status).contains("--device"));
    EXPECT_FALSE(UsageText(Command::Ports).contains("--device"));

    struct B {
        const char* text;
        const char* host;
        int port;
    };
    for (const B& b : {B{"localhost", "localhost", 1883}, B{"10.0.0.2:1884", "10.0.0.2", 1884},
                       B{"[::1]", "::1", 1883}, B{"[::1]:8883", "::1", 8883}}) {
        Broker broker;
        ASSERT_TRUE(ParseBroker(QString::fromUtf8(b.text), broker)) << b.text;
        EXPECT_EQ(broker.host, QString::fromUtf8(b.host));
        EXPECT_EQ(broker.port, b.port);
    }
}

TEST(CliOptions, PortNamesAndDefaultTopics) {
    EXPECT_EQ(DefaultTopic({PortChoice::Kind::Number, 5, {}}), "veresk/COM5");
    EXPECT_EQ(DefaultTopic({PortChoice::Kind::Path, 0, "/dev/ttyUSB0"}), "veresk/ttyUSB0");
    EXPECT_EQ(DefaultTopic({PortChoice::Kind::Path, 0, "/dev/odd+name#1"}), "veresk/odd_name_1");
    EXPECT_EQ(DefaultTopic({PortChoice::Kind::Search, 0, {}}), "veresk/auto");
}

TEST(CliTexts, LanguageFollowsTheLocale) {
    EXPECT_EQ(LanguageOfLocale("ru_RU.UTF-8"), 1);
    EXPECT_EQ(LanguageOfLocale("C.UTF-8"), 2);
    EXPECT_EQ(LanguageOfLocale("en_GB.UTF-8"), 2);
    EXPECT_EQ(LanguageOfLocale("uk_UA.UTF-8"), 2);
}

// ---------------------------------------------------------------- small pieces

TEST(CliFormats, JsonStringsAreEscaped) {
    EXPECT_EQ(JsonString("a\"b\\c\nd\te\x01"), QByteArray("\"a\\\"b\\\\c\\nd\\te\\u0001\""));
    EXPECT_EQ(JsonString(QString::fromUtf8("µSv/h")), QByteArray("\"µSv/h\""));
    EXPECT_EQ(PrometheusLabelValue("a\"b\\c\nd"), QByteArray("a\\\"b\\\\c\\nd"));
}

TEST(CliFormats, DeviceClockAsItStands) {
    DeviceClockFields c;
    c.year = 9;
    c.month = 3;
    c.day = 21;
    c.hour = 7;
    c.minute = 5;
    c.second = 9;
    c.valid = true;
    EXPECT_EQ(DeviceClockText(c), "2009-03-21T07:05:09");
    c.valid = false;  // bytes that hold no date and time show none
    EXPECT_EQ(DeviceClockText(c), "");
}

// ---------------------------------------------------------------- one reading

namespace {

Reading SampleReading(std::time_t pc) {
    Reading r;
    r.pcTime = pc;
    r.port = "COM5";
    LiveStatusValues& v = r.values;
    v.DoseRate = 0.12f;
    v.Dose = 1.5f;
    v.Temperature = 21.5f;
    v.BatteryVoltage = 3900;
    v.StatusFlags = ChargingBit | DoseAboveThresholdBit;
    v.RateFlags = 0;
    v.StatError = 15;
    v.PulseCount = 1234;
    v.MeasurementCount = 42;
    v.MeasurementTime = 30;
    v.RunningTime = 93784;
    v.RateThresholdIndex = 1;
    v.DoseThresholdIndex = 2;
    v.ArchiveFill = 123;
    // The device clock 2 s ahead of the PC, in the PC's zone.
    std::time_t dev = pc + 2;
    std::tm tm{};
    localtime_r(&dev, &tm);
    v.DeviceClock = {tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_wday, tm.tm_mday, tm.tm_mon + 1, tm.tm_year - 100, true};
    return r;
}

}  // namespace

TEST(CliFormats, ReadingJsonCarriesEveryValue) {
    TimeZone tz("Asia/Novosibirsk");
    const Reading r = SampleReading(1765371807);
    const QByteArray json = ReadingJson(r);
    EXPECT_EQ(json,
              QByteArray("{\"time\":\"2025-12-10T20:03:27+07:00\",\"port\":\"COM5\",\"dose_rate_usv_h\":0.12,"
                         "\"dose_usv\":1.5,\"temperature_c\":21.5,\"battery_mv\":3900,\"charging\":true,"
                         "\"rate_alarm\":false,\"dose_alarm\":true,\"archive_full\":false,\"stat_error_percent\":15,"
                         "\"pulse_count\":1234,\"measurement_count\":42,\"measurement_time_s\":30,"
                         "\"running_time_s\":93784,\"rate_threshold_index\":1,\"dose_threshold_index\":2,"
                         "\"archive_records\":123,\"device_clock\":\"2025-12-10T20:03:29\",\"clock_offset_s\":2}"));
    QJsonParseError error;
    QJsonDocument::fromJson(json, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError);
}

TEST(CliFormats, AnInvalidDeviceClockHasNoTimeAndNoOffset) {
    TimeZone tz("Asia/Novosibirsk");
    // Damaged clock bytes as the status block decodes them: each would be carried into
    // some real time by the local-time conversion, none of them is a clock.
    const std::array<uint8_t, 7> damaged[] = {
        {0x58, 0x30, 0x1A, 0x04, 0x10, 0x12, 0x25},  // hour nibble above 9: reads as 20
        {0x58, 0x30, 0x20, 0x04, 0x10, 0x00, 0x25},  // month 0
        {0x58, 0x30, 0x20, 0x04, 0x31, 0x04, 0x25},  // 31 April
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    };
    for (const auto& bytes : damaged) {
        SCOPED_TRACE(Hex(bytes.data(), bytes.size()));
        Reading r = SampleReading(1765371807);
        uint8_t block[StatusLength] = {};
        std::copy(bytes.begin(), bytes.end(), block + status_offset::DeviceClock);
        r.values.DeviceClock = DecodeStatusBlock(block).DeviceClock;
        EXPECT_FALSE(ClockOffset(r).has_value());
        const QJsonObject o = QJsonDocument::fromJson(ReadingJson(r)).object();
        EXPECT_TRUE(o.value("clock_offset_s").isNull());
        EXPECT_TRUE(o.value("device_clock").isNull());
        qputenv("LC_ALL", "C.UTF-8");
        const QString table = TableText(ReadingRows(r));
        EXPECT_TRUE(table.contains(QRegularExpression("device clock +invalid\n"))) << table.toStdString();
        EXPECT_TRUE(table.contains(QRegularExpression("offset from the PC clock +invalid\n"))) << table.toStdString();
    }
}

TEST(CliFormats, ReadingTableHasOneAlignedLinePerValue) {
    qputenv("LC_ALL", "C.UTF-8");
    TimeZone tz("UTC");
    const QString table = TableText(ReadingRows(SampleReading(1765371807)));
    const QStringList lines = table.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 20);
    // The program's rounding and units for people (the JSON keeps every digit).
    EXPECT_TRUE(table.contains("0.120 uSv/h\n")) << table.toStdString();
    EXPECT_TRUE(table.contains("1.500 uSv\n"));
    EXPECT_TRUE(table.contains(QString::fromUtf8("21.5 °C\n")));
    EXPECT_TRUE(table.contains("3900 mV\n"));
    EXPECT_TRUE(table.contains("+2 s\n"));
    EXPECT_TRUE(table.contains("charging  "));
    // Every value starts in the same column.
    const int column = static_cast<int>(lines[0].indexOf("COM5"));
    for (const QString& line : lines) {
        EXPECT_EQ(line.at(column - 1), ' ') << line.toStdString();
        EXPECT_NE(line.at(column), ' ') << line.toStdString();
    }
    qputenv("LC_ALL", "ru_RU.UTF-8");
    EXPECT_TRUE(TableText(ReadingRows(SampleReading(1765371807))).contains(QString::fromUtf8("мощность дозы")));
    qputenv("LC_ALL", "C.UTF-8");
}

// ---------------------------------------------------------------- parameter block

TEST(CliFormats, ParametersUseTheProgramsNames) {
    ParameterValuesT p;
    p.FirmwareVersion = 12;
    p.EditionFlags = 0x04;
    p.BacklightTime = 60;
    p.RateThresholdSetting = 3;
    p.RateThresholds[0] = 0.3f;
    p.RateThresholds[1] = 1.2f;
    p.RateThresholds[2] = 2500;
    p.DoseThresholds[0] = 100;
    p.AccumulatedDoseTime = 3600;
    p.StoredDose = 12.5f;
    const QJsonObject o = QJsonDocument::fromJson(ParametersJson(p)).object();
    EXPECT_EQ(o.value("FirmwareVersion").toInt(), 12);
    EXPECT_EQ(o.value("DeviceEdition").toInt(), 1);
    EXPECT_EQ(o.value("Edition").toString(), QString::fromUtf8("Кедр+"));
    EXPECT_EQ(o.value("BacklightTime").toInt(), 60);
    EXPECT_EQ(o.value("RateThresholdSetting").toInt(), 3);
    EXPECT_EQ(o.value("AccumulatedDoseTime").toInt(), 3600);
    EXPECT_EQ(o.value("RateThresholds").toArray(), (QJsonArray{0.3, 1.2, 2500}));
    EXPECT_EQ(o.value("DoseThresholds").toArray(), (QJsonArray{100, 0, 0}));
    EXPECT_DOUBLE_EQ(o.value("StoredDose").toDouble(), 12.5);
    const QString table = TableText(ParameterRows(p));
    EXPECT_TRUE(table.contains(QRegularExpression("RateThresholds\\[2\\] +2500\\n")));
    EXPECT_TRUE(table.contains(QRegularExpression(QString::fromUtf8("DeviceEdition +1 \\(Кедр\\+\\)\\n"))));
    EXPECT_TRUE(table.contains(QRegularExpression("EditionFlags +0x04\\n")));
}

// ---------------------------------------------------------------- Prometheus

TEST(CliFormats, PrometheusPageWithAReading) {
    const Reading r = SampleReading(1765371807);
    const QByteArray page = PrometheusText("COM5", &r, 1765371807);
    const char* expected[] = {
        "# TYPE veresk_dose_rate_microsieverts_per_hour gauge\nveresk_dose_rate_microsieverts_per_hour{port=\"COM5\"} 0.12\n",
        "veresk_dose_microsieverts{port=\"COM5\"} 1.5\n",
        "veresk_temperature_celsius{port=\"COM5\"} 21.5\n",
        "veresk_battery_millivolts{port=\"COM5\"} 3900\n",
        "veresk_charging{port=\"COM5\"} 1\n",
        "veresk_rate_alarm{port=\"COM5\"} 0\n",
        "veresk_dose_alarm{port=\"COM5\"} 1\n",
        "veresk_link_up{port=\"COM5\"} 1\n",
        "veresk_last_reading_timestamp_seconds{port=\"COM5\"} 1765371807\n",
    };
    for (const char* line : expected) EXPECT_TRUE(page.contains(line)) << line << "\n" << page.toStdString();
    EXPECT_EQ(page.count("# HELP "), 9);
    EXPECT_EQ(page.count("# TYPE "), 9);
    EXPECT_TRUE(page.endsWith('\n'));
}

TEST(CliFormats, PrometheusPageWhileTheLinkIsDown) {
    const QByteArray never = PrometheusText("auto", nullptr, std::nullopt);
    EXPECT_EQ(never, QByteArray("# HELP veresk_link_up 1 while the dosimeter answers, 0 while the link is down.\n"
                                "# TYPE veresk_link_up gauge\n"
                                "veresk_link_up{port=\"auto\"} 0\n"));
    const QByteArray after = PrometheusText("COM5", nullptr, 1765371807);
    EXPECT_TRUE(after.contains("veresk_link_up{port=\"COM5\"} 0\n"));
    EXPECT_TRUE(after.contains("veresk_last_reading_timestamp_seconds{port=\"COM5\"} 1765371807\n"));
    EXPECT_FALSE(after.contains("veresk_dose_rate"));  // no stale values while down
}

// ---------------------------------------------------------------- MQTT

TEST(CliFormats, TopicsAndNodeIds) {
    const MqttTopics t = TopicsOf("veresk/COM5");
    EXPECT_EQ(t.reading, "veresk/COM5/reading");
    EXPECT_EQ(t.state, "veresk/COM5/state");
    EXPECT_EQ(NodeId("veresk/COM5"), "veresk_COM5");
    EXPECT_EQ(NodeId(QString::fromUtf8("дом/station 1")), "____station_1");
}

TEST(CliFormats, HomeAssistantDiscoveryConfigs) {
    qputenv("LC_ALL", "C.UTF-8");
    const auto configs = DiscoveryConfigs("veresk/COM5");
    ASSERT_EQ(configs.size(), 4u);
    struct E {
        const char* topic;
        const char* unit;
        const char* field;
        const char* deviceClass;
    };
    const E expected[] = {
        {"homeassistant/sensor/veresk_COM5/dose_rate/config", "µSv/h", "dose_rate_usv_h", ""},
        {"homeassistant/sensor/veresk_COM5/dose/config", "µSv", "dose_usv", ""},
        {"homeassistant/sensor/veresk_COM5/temperature/config", "°C", "temperature_c", "temperature"},
        {"homeassistant/sensor/veresk_COM5/battery/config", "mV", "battery_mv", "voltage"},
    };
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(expected[i].topic);
        EXPECT_EQ(configs[i].topic, QString::fromUtf8(expected[i].topic));
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(configs[i].payload, &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError);
        EXPECT_EQ(o.value("unit_of_measurement").toString(), QString::fromUtf8(expected[i].unit));
        EXPECT_EQ(o.value("state_topic").toString(), "veresk/COM5/reading");
        EXPECT_EQ(o.value("availability_topic").toString(), "veresk/COM5/state");
        EXPECT_EQ(o.value("payload_not_available").toString(), "offline");
        EXPECT_EQ(o.value("value_template").toString(), QStringLiteral("{{ value_json.%1 }}").arg(expected[i].field));
        EXPECT_EQ(o.value("device_class").toString(), QString::fromUtf8(expected[i].deviceClass));
        EXPECT_TRUE(o.value("unique_id").toString().startsWith("veresk_COM5_"));
        EXPECT_EQ(o.value("device").toObject().value("identifiers").toArray().first().toString(), "veresk_COM5");
    }
}
