// The log command's loop in process: ticks driven one by one against the simulator on
// a pseudo-terminal, with a sink that records what it is given.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <ctime>

#include "cli/commands.h"
#include "cli/logloop.h"
#include "link/link.h"
#include "monitor/clock.h"
#include "monitor/status.h"
#include "support/data_files.h"
#include "support/test_support.h"

using namespace veresk;
using namespace veresk::cli;
using namespace veresk::testing;

namespace {

struct Record {
    std::vector<Reading> readings;
    int downs = 0;
    QString failWith;  // every call fails with this while it is set
};

class RecordingSink final : public LogSink {
public:
    explicit RecordingSink(std::shared_ptr<Record> r) : r_(std::move(r)) {}
    QString Name() const override { return "recorder"; }
    QString Reading(const cli::Reading& reading) override {
        r_->readings.push_back(reading);
        return r_->failWith;
    }
    QString LinkDown() override {
        ++r_->downs;
        return r_->failWith;
    }

private:
    std::shared_ptr<Record> r_;
};

class LogLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLinkState();
        ResetPollingState();
        ASSERT_TRUE(simulator.Start(false));
        ASSERT_TRUE(sandbox.Link(simulator, 4));
    }
    void TearDown() override { ResetLinkState(); }

    std::unique_ptr<LogLoop> MakeLoop(bool keepClock, PortChoice port = {PortChoice::Kind::Number, 4, {}}) {
        std::vector<std::unique_ptr<LogSink>> sinks;
        sinks.push_back(std::make_unique<RecordingSink>(record));
        auto loop = std::make_unique<LogLoop>(port, keepClock, std::move(sinks),
                                              [this](const QString& m) { reports.append(m); });
        EXPECT_TRUE(loop->Begin().isEmpty());
        return loop;
    }
    // Clock writes the simulator has taken (a write is not answered: allow it to arrive).
    size_t ClockWrites(size_t expected) const {
        size_t n = 0;
        for (int wait = 0; wait < 20; ++wait) {
            n = 0;
            for (const auto& r : simulator.Requests()) n += r.command == 0xBB;
            if (n >= expected) break;
            QThread::msleep(50);
        }
        return n;
    }

    PortMapSandbox sandbox;
    sim::Simulator simulator;
    std::shared_ptr<Record> record = std::make_shared<Record>();
    QStringList reports;
};

}  // namespace

TEST_F(LogLoopTest, ClockIsKeptInStepUnlessTold) {
    simulator.WithDevice([](sim::Device& d) { d.State().clockOffset = 100; });
    {
        auto loop = MakeLoop(false);
        loop->Tick();
        ASSERT_EQ(record->readings.size(), 1u);
        EXPECT_EQ(ClockWrites(1), 0u);
        const auto off = ClockOffset(record->readings[0]);
        ASSERT_TRUE(off.has_value());
        EXPECT_NEAR(static_cast<double>(*off), 100, 2);
    }
    record->readings.clear();
    auto loop = MakeLoop(true);
    loop->Tick();  // the clock is set; no reading on this tick
    EXPECT_EQ(ClockWrites(1), 1u);
    EXPECT_TRUE(record->readings.empty());
    EXPECT_TRUE(reports.join('\n').contains("device clock set")) << reports.join('\n').toStdString();
    loop->Tick();
    ASSERT_EQ(record->readings.size(), 1u);
    EXPECT_LE(std::abs(*ClockOffset(record->readings[0])), 1);
    EXPECT_EQ(ClockWrites(2), 1u);
}

TEST_F(LogLoopTest, LinkGoesDownPastTheLimitOnceAndComesBack) {
    auto loop = MakeLoop(true);
    EXPECT_EQ(record->downs, 1);  // Begin: nothing read yet
    loop->Tick();
    EXPECT_TRUE(loop->LinkUp());
    simulator.SetShortBy(3);
    for (int i = 1; i <= 3; ++i) {
        loop->Tick();
        EXPECT_TRUE(loop->LinkUp()) << "short answer " << i << " is below the limit";
    }
    loop->Tick();  // the fourth
    EXPECT_FALSE(loop->LinkUp());
    EXPECT_EQ(record->downs, 2);
    loop->Tick();
    loop->Tick();
    EXPECT_EQ(record->downs, 2);  // reported once per outage
    EXPECT_EQ(reports.filter("link lost").size(), 1);
    simulator.SetShortBy(0);
    loop->Tick();
    EXPECT_TRUE(loop->LinkUp());
    EXPECT_EQ(reports.filter("link up").size(), 2);
    EXPECT_EQ(record->readings.size(), 2u);
}

TEST_F(LogLoopTest, CrcFailuresHaveTheirOwnLimit) {
    auto loop = MakeLoop(true);
    loop->Tick();
    simulator.CorruptNextCrc(11);
    for (int i = 1; i <= 10; ++i) loop->Tick();
    EXPECT_TRUE(loop->LinkUp());
    loop->Tick();
    EXPECT_FALSE(loop->LinkUp());
    EXPECT_TRUE(reports.join('\n').contains("CRC error on COM4"));
}

TEST_F(LogLoopTest, SearchFindsTheDeviceAgainOnAnotherPort) {
    auto loop = MakeLoop(true, {});
    loop->Tick();
    EXPECT_TRUE(loop->LinkUp());
    EXPECT_EQ(Link.DevicePort, 4);
    // Unplugged, then back as COM7.
    QFile::remove(sandbox.Folder() + "/COM4");
    loop->Tick();
    EXPECT_FALSE(loop->LinkUp());
    EXPECT_EQ(Link.DevicePort, 0);
    loop->Tick();  // searches at once, finds nothing
    EXPECT_TRUE(reports.join('\n').contains("searching every 5 s"));
    ASSERT_TRUE(sandbox.Link(simulator, 7));
    loop->Tick();  // the next search is due in 5 s
    EXPECT_FALSE(loop->LinkUp());
    QThread::sleep(5);
    loop->Tick();
    EXPECT_TRUE(loop->LinkUp());
    EXPECT_EQ(Link.DevicePort, 7);
    EXPECT_EQ(record->readings.back().port, "COM7");
}

TEST_F(LogLoopTest, ASinkFailureIsReportedOnceAndItsRecoveryToo) {
    auto loop = MakeLoop(true);
    record->failWith = "disk full";
    loop->Tick();
    loop->Tick();
    EXPECT_EQ(reports.filter("recorder: disk full").size(), 1);
    record->failWith.clear();
    loop->Tick();
    EXPECT_EQ(reports.filter("recorder: writing again").size(), 1);
    EXPECT_EQ(record->readings.size(), 3u);
}

TEST(TextfileSinkTest, ReplacesTheWholeFileAndRefusesAMissingFolder) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/veresk.prom";
    TextfileSink sink(path, "COM4");
    EXPECT_TRUE(sink.LinkDown().isEmpty());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), PrometheusText("COM4", nullptr, std::nullopt));
    f.close();
    Reading r;
    r.pcTime = 1765371807;
    r.values.DoseRate = 0.25f;
    EXPECT_TRUE(sink.Reading(r).isEmpty());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), PrometheusText("COM4", &r, 1765371807));
    f.close();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"veresk.prom"});  // no temporary left behind
    TextfileSink missing(dir.path() + "/no/such/folder/x.prom", "COM4");
    EXPECT_FALSE(missing.LinkDown().isEmpty());
}

// ---------------------------------------------------------------- the device clock

namespace {

// Commands run in this process, so the PC clock can be put anywhere.
class CliClock : public LogLoopTest {
protected:
    void TearDown() override {
        SetPcClockSource(nullptr);
        SetPortOpener(nullptr);
        LogLoopTest::TearDown();
    }
    struct Outcome {
        int code = -1;
        QString out, err;
    };
    static Outcome Run(const QStringList& args) {
        Outcome o;
        QTextStream out(&o.out), err(&o.err);
        o.code = RunCommandLine(args, out, err, [] { return true; });
        out.flush();
        err.flush();
        return o;
    }
    void DamageTheDeviceClock() {
        // Hour 0x1A: read digit by digit it would be 20 o'clock.
        simulator.WithDevice([](sim::Device& d) { d.State().clockBytes = {0x58, 0x30, 0x1A, 0x04, 0x10, 0x12, 0x26}; });
    }
};

}  // namespace

TEST_F(CliClock, SetClockNeverWritesAPcTimeTheDeviceCannotHold) {
    qputenv("LC_ALL", "C.UTF-8");
    simulator.WithDevice([](sim::Device& d) { d.State().clockOffset = -5000; });
    for (const std::time_t pc : {LocalTime(1999, 12, 31, 23, 0, 0), LocalTime(2100, 1, 1, 0, 0, 0)}) {
        SetPcClockSource([pc] { return pc; });
        const Outcome o = Run({"set-clock", "--port", "4"});
        EXPECT_EQ(o.code, 1) << o.err.toStdString();
        EXPECT_TRUE(o.err.contains("does not fit the device clock")) << o.err.toStdString();
        EXPECT_FALSE(o.err.contains("cannot open")) << o.err.toStdString();
        EXPECT_TRUE(o.out.isEmpty());
    }
    EXPECT_EQ(ClockWrites(1), 0u);
    EXPECT_TRUE(simulator.Requests().empty());
    // The log reads on and says once that it leaves the clock alone.
    {
        auto loop = MakeLoop(true);
        loop->Tick();
        loop->Tick();
        EXPECT_EQ(record->readings.size(), 2u);
        EXPECT_EQ(reports.filter("does not fit the device clock").size(), 1) << reports.join('\n').toStdString();
        EXPECT_EQ(ClockWrites(1), 0u);
    }
    // A PC clock the device can hold is written, and the offset read back after it.
    SetPcClockSource(nullptr);
    const Outcome o = Run({"set-clock", "--port", "4"});
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_TRUE(o.out.startsWith("device clock set: ")) << o.out.toStdString();
    EXPECT_EQ(ClockWrites(1), 1u);
}

TEST_F(CliClock, DamagedDeviceClockIsShownInvalidAndSetByTheLog) {
    qputenv("LC_ALL", "C.UTF-8");
    DamageTheDeviceClock();
    const Outcome json = Run({"status", "--json", "--port", "4"});
    ASSERT_EQ(json.code, 0) << json.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_TRUE(o.value("device_clock").isNull()) << json.out.toStdString();
    EXPECT_TRUE(o.value("clock_offset_s").isNull()) << json.out.toStdString();
    const Outcome table = Run({"status", "--port", "4"});
    EXPECT_TRUE(table.out.contains(QRegularExpression("offset from the PC clock +invalid\\n"))) << table.out.toStdString();
    EXPECT_EQ(ClockWrites(1), 0u);  // status leaves the clock alone

    auto loop = MakeLoop(true);
    loop->Tick();
    EXPECT_EQ(ClockWrites(1), 1u);
    EXPECT_TRUE(reports.contains("device clock set (it was invalid)")) << reports.join('\n').toStdString();
}
