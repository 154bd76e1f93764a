// veresk-cli log as a whole process, feeding a real node_exporter (textfile collector)
// and a real Mosquitto broker, both started here on free loopback ports, and carried
// through a fault: the device silent, then its pty gone, then back on another port.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include "support/cli_support.h"
#include "support/test_support.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

class CliLog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device.Start(false));
        ASSERT_TRUE(sandbox.Link(device, 4));
        SetKnownReadings(device);
        textfile = scratch.path() + "/veresk.prom";
    }
    QString Textfile() {
        QFile f(textfile);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    // Waits until the textfile holds `text`.
    bool TextfileHas(const QString& text, int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (Textfile().contains(text)) return true;
            QThread::msleep(100);
        }
        return false;
    }

    PortMapSandbox sandbox;
    sim::Simulator device;
    QTemporaryDir scratch;
    QString textfile;
};

QJsonObject JsonOf(const QByteArray& payload) { return QJsonDocument::fromJson(payload).object(); }

}  // namespace

TEST_F(CliLog, NodeExporterScrapesTheTextfile) {
    CliProcess cli({"log", "--port", "4", "--textfile", textfile});
    ASSERT_TRUE(cli.WaitForErr("link up: COM4", 10000)) << cli.Err().toStdString();
    ASSERT_TRUE(TextfileHas("veresk_link_up{port=\"COM4\"} 1", 5000)) << Textfile().toStdString();

    NodeExporter exporter(scratch.path());
    ASSERT_TRUE(exporter.Start());
    const QString page = exporter.Scrape();
    for (const char* line :
         {"veresk_dose_rate_microsieverts_per_hour{port=\"COM4\"} 0.25\n", "veresk_dose_microsieverts{port=\"COM4\"} 12.5\n",
          "veresk_temperature_celsius{port=\"COM4\"} 21.5\n", "veresk_battery_millivolts{port=\"COM4\"} 3900\n",
          "veresk_charging{port=\"COM4\"} 0\n", "veresk_rate_alarm{port=\"COM4\"} 0\n",
          "veresk_dose_alarm{port=\"COM4\"} 0\n", "veresk_link_up{port=\"COM4\"} 1\n",
          "# TYPE veresk_dose_rate_microsieverts_per_hour gauge\n", "node_textfile_scrape_error 0\n"})
        EXPECT_TRUE(page.contains(QString::fromUtf8(line))) << line << "\n" << page.toStdString();
    const QRegularExpression stamp("veresk_last_reading_timestamp_seconds\\{port=\"COM4\"\\} ([0-9.e+]+)\\n");
    const auto m = stamp.match(page);
    ASSERT_TRUE(m.hasMatch()) << page.toStdString();
    EXPECT_NEAR(m.captured(1).toDouble(), static_cast<double>(std::time(nullptr)), 10);

    EXPECT_EQ(cli.Terminate(), 0);
    const QString after = exporter.Scrape();
    EXPECT_TRUE(after.contains("veresk_link_up{port=\"COM4\"} 0\n")) << after.toStdString();
    EXPECT_TRUE(after.contains("node_textfile_scrape_error 0\n"));
    EXPECT_FALSE(after.contains("veresk_dose_rate_microsieverts_per_hour{"));
}

TEST_F(CliLog, MqttReadingsStateDiscoveryAndLastWill) {
    Broker broker;
    ASSERT_TRUE(broker.Start());
    const QString address = QStringLiteral("127.0.0.1:%1").arg(broker.Port());
    Subscriber live(broker.Port());
    ASSERT_TRUE(live.Subscribe("#"));
    {
        CliProcess cli({"log", "--port", "4", "--mqtt", address, "--topic", "lab/station1"});
        const auto reading = live.WaitFor([](const Subscriber::Message& m) { return m.topic == "lab/station1/reading"; }, 10000);
        ASSERT_FALSE(reading.topic.isEmpty()) << cli.Err().toStdString();
        const QJsonObject o = JsonOf(reading.payload);
        EXPECT_DOUBLE_EQ(o.value("dose_rate_usv_h").toDouble(), 0.25);
        EXPECT_DOUBLE_EQ(o.value("dose_usv").toDouble(), 12.5);
        EXPECT_DOUBLE_EQ(o.value("temperature_c").toDouble(), 21.5);
        EXPECT_DOUBLE_EQ(o.value("battery_mv").toDouble(), 3900);
        EXPECT_EQ(o.value("port").toString(), "COM4");
        EXPECT_FALSE(live.WaitFor("lab/station1/state", "online", 5000).topic.isEmpty());

        // What a newcomer gets at once: the retained state, reading and discovery configs.
        Subscriber late(broker.Port());
        ASSERT_TRUE(late.Subscribe("#"));
        const auto state = late.WaitFor("lab/station1/state", "online", 5000);
        EXPECT_TRUE(state.retained);
        EXPECT_TRUE(late.WaitFor([](const Subscriber::Message& m) { return m.topic == "lab/station1/reading"; }, 5000)
                        .retained);
        const struct {
            const char* object;
            const char* unit;
        } sensors[] = {{"dose_rate", "µSv/h"}, {"dose", "µSv"}, {"temperature", "°C"}, {"battery", "mV"}};
        for (const auto& s : sensors) {
            const QString topic = QStringLiteral("homeassistant/sensor/lab_station1/%1/config").arg(s.object);
            const auto config = late.WaitFor([&](const Subscriber::Message& m) { return m.topic == topic; }, 5000);
            ASSERT_FALSE(config.topic.isEmpty()) << topic.toStdString();
            EXPECT_TRUE(config.retained);
            const QJsonObject c = JsonOf(config.payload);
            EXPECT_EQ(c.value("unit_of_measurement").toString(), QString::fromUtf8(s.unit));
            EXPECT_EQ(c.value("state_topic").toString(), "lab/station1/reading");
            EXPECT_EQ(c.value("availability_topic").toString(), "lab/station1/state");
        }
        // A clean stop says offline itself.
        EXPECT_EQ(cli.Terminate(), 0);
        EXPECT_FALSE(live.WaitFor("lab/station1/state", "offline", 5000).topic.isEmpty());
    }
    // Killed outright: the broker sends the last will.
    CliProcess cli({"log", "--port", "4", "--mqtt", address, "--topic", "lab/station2"});
    ASSERT_FALSE(live.WaitFor("lab/station2/state", "online", 10000).topic.isEmpty()) << cli.Err().toStdString();
    cli.Kill();
    const auto will = live.WaitFor("lab/station2/state", "offline", 10000);
    ASSERT_FALSE(will.topic.isEmpty());
    Subscriber after(broker.Port());
    ASSERT_TRUE(after.Subscribe("lab/station2/state"));
    const auto kept = after.WaitFor("lab/station2/state", "offline", 5000);
    EXPECT_TRUE(kept.retained);
}

TEST_F(CliLog, StaysUpThroughAnOutageAndResumes) {
    Broker broker;
    ASSERT_TRUE(broker.Start());
    Subscriber live(broker.Port());
    ASSERT_TRUE(live.Subscribe("veresk/#"));
    const QString csvDir = scratch.path() + "/log";
    CliProcess cli({"log", "--textfile", textfile, "--csv-dir", csvDir, "--mqtt",
                    QStringLiteral("127.0.0.1:%1").arg(broker.Port())});
    ASSERT_TRUE(cli.WaitForErr("link up: COM4", 10000)) << cli.Err().toStdString();
    ASSERT_TRUE(TextfileHas("veresk_link_up{port=\"auto\"} 1", 5000));
    ASSERT_FALSE(live.WaitFor("veresk/auto/state", "online", 5000).topic.isEmpty());

    // The device falls silent: reported once the failure limit is passed.
    device.SetSilent(true);
    ASSERT_TRUE(cli.WaitForErr("link lost: no answer from the dosimeter on COM4", 15000)) << cli.Err().toStdString();
    EXPECT_TRUE(TextfileHas("veresk_link_up{port=\"auto\"} 0", 3000));
    EXPECT_FALSE(live.WaitFor("veresk/auto/state", "offline", 5000).topic.isEmpty());

    // The cable is pulled: the pty is gone.
    device.Stop();
    QFile::remove(sandbox.Folder() + "/COM4");
    ASSERT_TRUE(cli.WaitForErr("searching every 5 s", 15000)) << cli.Err().toStdString();
    QThread::sleep(3);
    EXPECT_TRUE(cli.Running());

    // Plugged back in, as another port, and answering again.
    device.SetSilent(false);
    const size_t readingsBefore = live.Messages().size();
    ASSERT_TRUE(device.Start(false));
    ASSERT_TRUE(sandbox.Link(device, 5));
    ASSERT_TRUE(cli.WaitForErr("link up: COM5", 15000)) << cli.Err().toStdString();
    EXPECT_TRUE(TextfileHas("veresk_link_up{port=\"auto\"} 1", 5000));
    const auto back = live.WaitFor(
        [&](const Subscriber::Message& m) {
            return m.topic == "veresk/auto/reading" && JsonOf(m.payload).value("port").toString() == "COM5";
        },
        5000);
    EXPECT_FALSE(back.topic.isEmpty());
    EXPECT_GT(live.Messages().size(), readingsBefore);
    EXPECT_EQ(cli.Err().count("link lost"), 1);
    EXPECT_EQ(cli.Terminate(), 0);

    // The day's CSV file: its header once and a row for every reading, before and after.
    QStringList rows;
    for (const QString& name : QDir(csvDir).entryList({"*.csv"}, QDir::Files)) {
        QFile f(csvDir + '/' + name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        rows += QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
    }
    ASSERT_GE(rows.size(), 3);
    EXPECT_EQ(rows.front(), "time,dose_rate_usv_h,dose_usv,temperature,battery_mv,charging,rate_alarm,dose_alarm,archive_records");
    EXPECT_EQ(rows.filter("time,").size(), 1);
    for (const QString& row : rows.mid(1)) EXPECT_TRUE(row.contains(",0.25,12.5,21.5,3900,0,0,0,")) << row.toStdString();
}

TEST_F(CliLog, MqttBrokerThatComesLaterAndRestarts) {
    // A station may boot before its broker: the log waits for it, then fills it in, and
    // does so again after a broker restart without persistence.
    Broker broker;
    CliProcess cli({"log", "--port", "4", "--mqtt", QStringLiteral("127.0.0.1:%1").arg(broker.Port())});
    ASSERT_TRUE(cli.WaitForErr("link up: COM4", 10000)) << cli.Err().toStdString();
    ASSERT_TRUE(broker.Start());
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Subscriber watcher(broker.Port());
        ASSERT_TRUE(watcher.Subscribe("#"));
        ASSERT_FALSE(watcher.WaitFor("veresk/COM4/state", "online", 20000).topic.isEmpty()) << cli.Err().toStdString();
        // The empty broker has been filled in again: a newcomer finds it all retained.
        Subscriber late(broker.Port());
        ASSERT_TRUE(late.Subscribe("#"));
        EXPECT_TRUE(late.WaitFor("veresk/COM4/state", "online", 5000).retained);
        EXPECT_TRUE(late.WaitFor([](const Subscriber::Message& m) {
                            return m.topic == "homeassistant/sensor/veresk_COM4/dose_rate/config";
                        }, 5000).retained);
        EXPECT_TRUE(late.WaitFor([](const Subscriber::Message& m) { return m.topic == "veresk/COM4/reading"; }, 5000)
                        .retained);
        broker.Stop();
        ASSERT_TRUE(broker.Start());
    }
    EXPECT_TRUE(cli.Running());
    EXPECT_TRUE(cli.Err().contains("MQTT 127.0.0.1: "));
    EXPECT_EQ(cli.Terminate(), 0);
}
